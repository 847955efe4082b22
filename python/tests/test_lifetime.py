"""References and memory: every object released (by `with`, close() or collection), every
BSTR, VARIANT and SAFEARRAY freed, so that many calls leave the module without live objects
and the process without growth."""
import ctypes
import datetime
import gc
import os

import pytest

import bench as B
import carvix
from carvix import _types as T
from carvix._variant import from_variant, to_variant


def live_objects():
    """Whether the module still has objects alive (its DllCanUnloadNow: 0 none, 1 some).
    Loading it by path gives the copy the runtime already loaded."""
    gc.collect()
    module = ctypes.CDLL(B.MODULE)
    module.DllCanUnloadNow.restype = ctypes.c_int32
    return module.DllCanUnloadNow()


def rss_kib():
    gc.collect()
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def test_with_close_and_collection_release_the_reference():
    assert live_objects() == 0
    with carvix.Dispatch("CARVIX.Utilities") as utilities:
        assert live_objects() == 1
    assert live_objects() == 0
    with pytest.raises(ValueError, match="released"):
        utilities.GetErrorMessage(0)
    utilities.close()  # a second close does nothing

    block = carvix.Dispatch("CARVIX.VLVXPersoBlock")
    assert live_objects() == 1
    del block
    assert live_objects() == 0


def test_objects_inside_results_and_arguments_are_released():
    holder = carvix.Dispatch("CARVIX.ZKVXAdminBlock")
    insurances = [carvix.Dispatch("CARVIX.VoluntaryInsurance") for _ in range(3)]
    for i, insurance in enumerate(insurances):
        insurance.Code = f"C{i}"
    holder.VoluntaryInsurances = insurances
    copies = holder.VoluntaryInsurances
    assert [c.Code for c in copies] == ["C0", "C1", "C2"]
    del insurances, insurance, copies
    holder.VoluntaryInsurances = []
    del holder
    assert live_objects() == 0


def test_many_calls_leave_memory_flat():
    big = "Ж" * 20000  # 40 KB a BSTR: a leak of one per call shows in the resident size
    photo = bytes(range(256)) * 512

    def round():
        block = carvix.Dispatch("CARVIX.VLVXPersoBlock")
        block.OrgUnit = big
        assert len(block.OrgUnit) == len(big)
        block.ServiceStartDate = datetime.date(2020, 1, 31)
        assert block.ServiceStartDate.day == 31
        with pytest.raises(carvix.ComError):
            block.Rank = "not a number"
        v = T.VARIANT()
        to_variant([photo, big, [1, 2.5, None]], v)
        assert from_variant(v)[0] == photo
        _runtime_clear(v)

    for _ in range(50):
        round()
    before = rss_kib()
    for _ in range(400):
        round()
    grown = rss_kib() - before
    assert live_objects() == 0
    assert grown < 8 * 1024, f"{grown} KiB more after 400 rounds"


def _runtime_clear(v):
    from carvix import _runtime
    assert _runtime.library().VariantClear(ctypes.byref(v)) == 0
    assert v.vt == T.VT_EMPTY


def test_a_failed_conversion_leaves_nothing_behind():
    unsupported = object()
    v = T.VARIANT()
    for _ in range(3):
        with pytest.raises(TypeError):
            # The array and the texts before the bad element are freed again.
            to_variant(["x" * 100000, b"y" * 100000, unsupported], v)
        assert v.vt == T.VT_EMPTY
    before = rss_kib()
    for _ in range(300):
        with pytest.raises(TypeError):
            to_variant(["x" * 100000, b"y" * 100000, unsupported], v)
    assert rss_kib() - before < 8 * 1024
    block = carvix.Dispatch("CARVIX.VLVXPersoBlock")
    with pytest.raises(TypeError):
        block.OrgUnit = unsupported
    del block
    assert live_objects() == 0
