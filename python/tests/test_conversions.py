"""Python values to VARIANTs and back, through the objects' own properties (the module
coerces and stores what it is given) and through the conversion layer alone for the types
no member takes. No card needed."""
import ctypes
import json
import datetime
import decimal

import pytest

import carvix
from carvix import _runtime
from carvix import _types as T
from carvix._variant import from_variant, to_variant

DISP_E_TYPEMISMATCH = 0x80020005
DISP_E_OVERFLOW = 0x8002000A
DISP_E_BADPARAMCOUNT = 0x8002000E
DISP_E_UNKNOWNNAME = 0x80020006


def round_trip(value):
    v = T.VARIANT()
    to_variant(value, v)
    try:
        return v.vt, from_variant(v)
    finally:
        _runtime.library().VariantClear(ctypes.byref(v))


@pytest.fixture
def block():
    with carvix.Dispatch("CARVIX.VLVXPersoBlock") as b:
        yield b


def test_texts_keep_every_character(block):
    for text in ("", "Petrović", "Ђорђе Петровић", "emoji \U0001F600 and \U0001D11E",
                 "nul\x00inside", "x" * 5000):
        block.UnitNo = text
        assert block.UnitNo == text


def test_integers_booleans_and_their_coercions(block):
    block.Rank = 24
    assert block.Rank == 24 and type(block.Rank) is int
    assert block.RankSpecified is True
    block.RankSpecified = False
    assert block.RankSpecified is False
    block.Rank = "31"  # the object coerces text to its I4
    assert block.Rank == 31
    block.Rank = -(2 ** 31)
    assert block.Rank == -(2 ** 31)
    block.Rank = True  # VT_BOOL true is -1
    assert block.Rank == -1


@pytest.mark.parametrize("value,hresult", [
    (2 ** 31, DISP_E_OVERFLOW),
    (2 ** 40, DISP_E_OVERFLOW),
    ("twelve", DISP_E_TYPEMISMATCH),
    (None, DISP_E_TYPEMISMATCH),
    ([1], DISP_E_TYPEMISMATCH),
])
def test_a_value_the_property_cannot_take_names_it(block, value, hresult):
    with pytest.raises(carvix.ComError) as caught:
        block.Rank = value
    assert caught.value.hresult == hresult
    assert caught.value.member == "Rank" and "the value" in caught.value.message


def test_dates_and_times(block):
    block.ServiceStartDate = datetime.date(2015, 9, 1)
    got = block.ServiceStartDate
    assert type(got) is datetime.date and got == datetime.date(2015, 9, 1)
    moment = datetime.datetime(1899, 12, 29, 6, 0, 0)  # before the DATE epoch, with a time
    block.ServiceStartDate = moment
    assert block.ServiceStartDate == moment
    # DATE values keep whole seconds: a fraction is dropped, never rounded into the next day.
    block.ServiceStartDate = datetime.datetime(2030, 12, 31, 23, 59, 59, 750000)
    assert block.ServiceStartDate == datetime.datetime(2030, 12, 31, 23, 59, 59)
    block.ServiceStartDate = datetime.datetime(2024, 2, 29)  # midnight is a plain day
    assert type(block.ServiceStartDate) is datetime.date
    block.ServiceStartDate = "2001-02-03"  # the object parses ISO text itself
    assert block.ServiceStartDate == datetime.date(2001, 2, 3)
    aware = datetime.datetime(2024, 1, 1, tzinfo=datetime.timezone.utc)
    with pytest.raises(TypeError, match="time zone"):
        block.ServiceStartDate = aware
    # The runtime reads years below 100 as two-digit years (50 as 1950); a Python date of
    # the year 50 is refused instead of landing 1900 years later.
    with pytest.raises(ValueError, match="outside the DATE range"):
        block.ServiceStartDate = datetime.date(50, 1, 1)
    assert round_trip(datetime.date(100, 1, 1))[1] == datetime.date(100, 1, 1)
    assert round_trip(datetime.datetime(9999, 12, 31, 23, 59, 59))[1] == \
        datetime.datetime(9999, 12, 31, 23, 59, 59)


def test_lists_of_objects_go_in_and_come_back():
    holder = carvix.Dispatch("CARVIX.ZKVXAdminBlock")
    a, b = (carvix.Dispatch("CARVIX.VoluntaryInsurance") for _ in range(2))
    a.Code, a.PolicyCode, a.ValidTo = "A1", "P-1", datetime.date(2030, 1, 2)
    b.Code, b.PolicyCode, b.ValidTo = "B2", "P-2", datetime.date(2031, 3, 4)
    holder.VoluntaryInsurances = (a, b)
    got = holder.VoluntaryInsurances
    assert [(i.Code, i.PolicyCode, i.ValidTo) for i in got] == [
        ("A1", "P-1", datetime.date(2030, 1, 2)), ("B2", "P-2", datetime.date(2031, 3, 4))]
    holder.VoluntaryInsurances = []
    assert holder.VoluntaryInsurances == []


@pytest.mark.parametrize("value,vt", [
    (None, T.VT_NULL), (True, T.VT_BOOL), (False, T.VT_BOOL), (7, T.VT_I4),
    (-(2 ** 31), T.VT_I4), (2 ** 31, T.VT_UI4), (2 ** 32, T.VT_I8), (-(2 ** 63), T.VT_I8),
    (2 ** 64 - 1, T.VT_UI8), (1.5, T.VT_R8), ("text", T.VT_BSTR),
    (datetime.date(1999, 12, 31), T.VT_DATE),
])
def test_scalars_take_the_narrowest_fitting_type(value, vt):
    got_vt, got = round_trip(value)
    assert got_vt == vt
    assert got == value and type(got) is type(value)


def test_bytes_and_nested_lists():
    data = bytes(range(256)) * 3
    assert round_trip(data) == (T.VT_ARRAY | T.VT_UI1, data)
    assert round_trip(bytearray(b"\x00\x01")) == (T.VT_ARRAY | T.VT_UI1, b"\x00\x01")
    assert round_trip(b"")[1] == b""
    nested = [1, "two", [3.5, None, [b"\xFF"]], datetime.date(2000, 1, 1), False]
    assert round_trip(nested) == (T.VT_ARRAY | T.VT_VARIANT, nested)
    assert round_trip(())[1] == []


def test_values_without_an_automation_type_are_refused():
    for value in (object(), {"a": 1}, 2 ** 64, decimal.Decimal(1)):
        with pytest.raises((TypeError, OverflowError)):
            round_trip(value)


def test_results_of_other_variant_types():
    rt = _runtime.library()
    v = T.VARIANT()
    v.vt, v.llVal = T.VT_CY, 123456  # currency: four decimal places
    assert from_variant(v) == decimal.Decimal("12.3456")
    v.vt, v.fltVal = T.VT_R4, 0.5
    assert from_variant(v) == 0.5
    v.vt, v.bVal = T.VT_UI1, 200
    assert from_variant(v) == 200
    v.vt = T.VT_EMPTY
    assert from_variant(v) is None
    # By reference: read through to the value.
    inner = ctypes.c_int32(-5)
    v.vt, v.byref = T.VT_BYREF | T.VT_I4, ctypes.addressof(inner)
    assert from_variant(v) == -5
    v.vt = 0x0FFF  # no such type
    with pytest.raises(carvix.ComError) as caught:
        from_variant(v)
    assert caught.value.hresult == 0x80020008
    v.vt = T.VT_EMPTY
    rt.VariantClear(ctypes.byref(v))


def test_method_calls_check_their_arguments():
    utilities = carvix.Dispatch("CARVIX.Utilities")
    assert utilities.GetErrorMessage(-2146434967) == carvix.error_message(0x80100069)
    with pytest.raises(carvix.ComError) as caught:
        utilities.GetErrorMessage()
    assert caught.value.hresult == DISP_E_BADPARAMCOUNT
    # A wrong count is the TypeError a Python function raises, naming the parameters.
    for args in ((), (1, 2)):
        with pytest.raises(TypeError) as wrong:
            utilities.GetErrorMessage(*args)
        assert isinstance(wrong.value, carvix.WrongArgumentCount)
        assert "GetErrorMessage() takes 1 argument (ulErrorCode)" in wrong.value.message
        assert f"{len(args)} given" in wrong.value.message
    with pytest.raises(carvix.ComError) as caught:
        utilities.GetErrorMessage("x")
    assert caught.value.hresult == DISP_E_TYPEMISMATCH
    assert "argument 1 (ulErrorCode)" in caught.value.message
    assert "GetErrorMessage" in str(caught.value) and "0x80020005" in str(caught.value)


def test_names_methods_and_properties():
    block = carvix.Dispatch("CARVIX.VLVXPersoBlock")
    assert "Rank" in carvix.properties(block) and "Load" in carvix.methods(block)
    assert "Rank" in dir(block)
    block.rank = 3  # names match without regard to case, as in the object
    assert block.RANK == 3
    assert not hasattr(block, "NoSuchField")
    with pytest.raises(carvix.UnknownMember) as caught:
        block.NoSuchField = 1
    assert caught.value.hresult == DISP_E_UNKNOWNNAME
    assert isinstance(caught.value, carvix.ComError) and isinstance(caught.value, AttributeError)
    with pytest.raises(carvix.ComError) as caught:
        carvix.Dispatch("CARVIX.VLDocBlock").CardID = "read-only"
    assert caught.value.hresult == 0x80020003
    # Setting a read-only property is the AttributeError Python raises for one, with type
    # information or without.
    assert isinstance(caught.value, AttributeError)
    assert isinstance(caught.value, carvix.ReadOnlyProperty)
    assert "CardID" in caught.value.message and "read-only" in caught.value.message
    with pytest.raises(AttributeError):
        block._private = 1
    assert "IVLVariablePersoBlock" in repr(block)


def test_without_type_information_a_property_get_is_tried_first(monkeypatch):
    from carvix import _dispatch
    monkeypatch.setattr(_dispatch, "_describe", lambda pointer: None)
    block = carvix.Dispatch("CARVIX.VLVXPersoBlock")
    block.Rank = 12
    assert block.Rank == 12 and block.rank == 12
    assert carvix.properties(block) == []
    utilities = carvix.Dispatch("CARVIX.Utilities")
    assert utilities.GetErrorMessage(-2146434967) == carvix.error_message(0x80100069)
    assert not hasattr(utilities, "NoSuchMember")
    with pytest.raises(AttributeError):
        carvix.Dispatch("CARVIX.VLDocBlock").CardID = "read-only"
    with pytest.raises(TypeError):
        utilities.GetErrorMessage(1, 2)


def test_a_block_becomes_a_dict_and_json():
    block = carvix.Dispatch("CARVIX.VLVXPersoBlock")
    block.Rank = 7
    block.OrgUnit = "Unit 4"
    plain = carvix.to_dict(block)
    assert list(plain) == carvix.properties(block)
    assert plain["Rank"] == 7 and plain["RankSpecified"] is True
    assert plain["OrgUnit"] == "Unit 4"
    # A field that is not set is None, not a failure.
    assert plain["UnitNoSpecified"] is False and plain["UnitNo"] is None
    assert json.loads(carvix.to_json(block)) == plain
