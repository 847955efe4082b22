"""Dispatch: an object created by ProgID (or handed back by another object) whose members
are called by name through IDispatch.

Attribute reads are property gets and attribute writes property puts; a method is read as
a callable. Which a name is comes from the object's type information (the runtime's JSON
description of the interface), read once per interface and process.
"""
import ctypes as C
import json
import threading

from . import _com, _hooks, _runtime, _service
from . import _types as T
from ._errors import ComError, ReadOnlyProperty, UnknownMember, WrongArgumentCount
from ._variant import from_variant, to_variant

# The runtime's description of the type information an object hands out
# (CarvixDescribeTypeInfoJson(ITypeInfo*, BSTR*)); without it members are told apart by
# trying a property get.
_DESCRIBE_SYMBOL = "CarvixDescribeTypeInfoJson"

_descriptions = {}
_descriptions_lock = threading.Lock()


class Member:
    """One name of an interface: its DISPID and what it can be (method, get, put)."""

    def __init__(self, name, dispid):
        self.name = name
        self.dispid = dispid
        self.method_params = None  # parameter names of the method, without the result
        self.get_params = None  # in-parameters of the property get (usually none)
        self.can_put = False


class Description:
    """An interface's members by lower-case name (the runtime matches names without regard
    to case)."""

    def __init__(self, name, members):
        self.name = name
        self.members = members

    @classmethod
    def parse(cls, text):
        doc = json.loads(text)
        members = {}
        for entry in doc.get("members", []):
            name = entry["name"]
            member = members.setdefault(name.lower(), Member(name, entry["dispid"]))
            inputs = [p["name"] for p in entry.get("params", []) if not p.get("retval")]
            if entry["kind"] == "method":
                member.method_params = inputs
            elif entry["kind"] == "propget":
                member.get_params = inputs
            elif entry["kind"] == "propput":
                member.can_put = True
        return cls(doc.get("name"), members)


def _describe(pointer):
    """The Description of the object's interface, or None when the runtime gives none."""
    rt = _runtime.library()
    describe = getattr(rt, _DESCRIBE_SYMBOL, None)
    info = C.c_void_p()
    if _com.call(pointer, "GetTypeInfo", 0, T.LOCALE_USER_DEFAULT, C.byref(info)) < 0:
        return None
    try:
        name = T.BSTR()
        if _com.call(info.value, "TypeInfoGetDocumentation", -1, C.byref(name), None, None,
                     None) >= 0:
            key = _com.take_bstr(name.value)
        else:
            key = None
        with _descriptions_lock:
            if key and key in _descriptions:
                return _descriptions[key]
        if describe is None:
            return None
        describe.restype, describe.argtypes = T.HRESULT, [C.c_void_p, C.POINTER(T.BSTR)]
        text = T.BSTR()
        if describe(info, C.byref(text)) < 0:
            return None
        description = Description.parse(_com.take_bstr(text.value))
        if key:
            with _descriptions_lock:
                _descriptions[key] = description
        return description
    finally:
        _com.release(info.value)


class Dispatch:
    """An automation object. `Dispatch("CARVIX.DocAdmin")` creates one by ProgID (the module
    must be registered: `carvix register`). Its reference is released when the object is
    collected, on `close()`, or at the end of a `with` block."""

    __slots__ = ("_pointer", "_description", "_ids", "__weakref__")

    def __init__(self, prog_id):
        rt = _runtime.library()
        clsid = T.GUID()
        name = _com.WideText(prog_id)
        hr = rt.CLSIDFromProgID(name.pointer, C.byref(clsid))
        if hr < 0:
            error = ComError(hr, member=f"finding {prog_id}")
            error.message += " Is the module registered (`carvix register`)?"
            raise error
        out = C.c_void_p()
        hr = rt.CoCreateInstance(C.byref(clsid), None, T.CLSCTX_INPROC_SERVER,
                                 C.byref(T.IID_IDispatch), C.byref(out))
        if hr < 0 or not out.value:
            raise ComError(hr if hr < 0 else T.E_POINTER, member=f"creating {prog_id}")
        self._init(out.value)

    @classmethod
    def _adopt(cls, pointer):
        """Wraps an IDispatch reference that the new object then owns."""
        obj = cls.__new__(cls)
        obj._init(pointer)
        return obj

    def _init(self, pointer):
        object.__setattr__(self, "_pointer", pointer)
        object.__setattr__(self, "_ids", {})
        object.__setattr__(self, "_description", _describe(pointer))
        # The interface's generated class, whose members help() and dir() show.
        if type(self) is Dispatch and self._description is not None:
            from ._interfaces import CLASSES
            interface = CLASSES.get(self._description.name)
            if interface is not None:
                object.__setattr__(self, "__class__", interface)

    # ---- lifetime ----

    def close(self):
        """Releases the object's reference now; later use raises ValueError."""
        pointer = getattr(self, "_pointer", None)
        if pointer:
            object.__setattr__(self, "_pointer", None)
            _com.release(pointer)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        try:
            self.close()
        except Exception:  # at interpreter exit the runtime may be gone already
            pass

    def _pointer_or_raise(self):
        if not self._pointer:
            raise ValueError("carvix: the object has been released")
        return self._pointer

    # ---- members by name ----

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        member = self._member(name)
        if member.get_params == [] and member.method_params is None:
            return self._invoke(member, T.DISPATCH_PROPERTYGET, ())
        if member.method_params is not None:
            return _BoundMember(self, member, T.DISPATCH_METHOD)
        if member.get_params:
            return _BoundMember(self, member, T.DISPATCH_PROPERTYGET)
        if member.can_put:
            raise ComError(T.DISP_E_MEMBERNOTFOUND, f"{member.name} can only be written.",
                           member=member.name)
        return self._guess(member)

    def __setattr__(self, name, value):
        if name.startswith("_"):
            raise AttributeError(f"carvix: {name} cannot be set on an automation object")
        member = self._member(name)
        if self._description is not None and not member.can_put:
            raise ReadOnlyProperty(member.name, self._description.name)
        try:
            self._invoke(member, T.DISPATCH_PROPERTYPUT, (value,))
        except ComError as error:
            # Without type information the object's refusal is the only sign.
            if self._description is None and error.hresult == T.DISP_E_MEMBERNOTFOUND & 0xFFFFFFFF:
                raise ReadOnlyProperty(member.name) from error
            raise

    def __dir__(self):
        names = ["close"]
        if self._description:
            names += [m.name for m in self._description.members.values()]
        return sorted(set(names))

    def __repr__(self):
        interface = self._description.name if self._description else "IDispatch"
        state = "released" if not self._pointer else f"0x{self._pointer:x}"
        return f"<carvix.Dispatch {interface} {state}>"

    def _member(self, name):
        key = name.lower()
        if self._description is not None:
            member = self._description.members.get(key)
            if member is None:
                raise UnknownMember(name, self._description.name)
            return member
        member = self._ids.get(key)
        if member is None:
            member = Member(name, self._dispid(name))
            self._ids[key] = member
        return member

    def _dispid(self, name):
        text = _com.WideText(name)
        names = (C.c_void_p * 1)(text.pointer)
        dispid = T.DISPID(-1)
        hr = _com.call(self._pointer_or_raise(), "GetIDsOfNames", C.byref(T.IID_NULL), names, 1,
                       T.LOCALE_USER_DEFAULT, C.byref(dispid))
        if hr == T.DISP_E_UNKNOWNNAME:
            raise UnknownMember(name)
        if hr < 0:
            raise ComError(hr, member=name)
        return dispid.value

    def _guess(self, member):
        # No type information: a name that answers a plain property get is a property.
        try:
            return self._invoke(member, T.DISPATCH_PROPERTYGET, ())
        except ComError as error:
            if error.hresult not in (T.DISP_E_MEMBERNOTFOUND & 0xFFFFFFFF,
                                     T.DISP_E_BADPARAMCOUNT & 0xFFFFFFFF):
                raise
        return _BoundMember(self, member, T.DISPATCH_METHOD)

    def _invoke(self, member, flags, args):
        rt = _runtime.library()
        pointer = self._pointer_or_raise()
        count = len(args)
        slots = (T.VARIANT * max(count, 1))()
        try:
            # IDispatch takes the arguments last first.
            for i, value in enumerate(args):
                to_variant(value, slots[count - 1 - i])
            named = T.DISPID(T.DISPID_PROPERTYPUT)
            put = flags == T.DISPATCH_PROPERTYPUT
            params = T.DISPPARAMS(slots if count else None, C.pointer(named) if put else None,
                                  count, 1 if put else 0)
            result = T.VARIANT()
            info = T.EXCEPINFO()
            arg_error = C.c_uint32(0)
            _hooks.take_failure()
            hr = _com.call(pointer, "Invoke", member.dispid, C.byref(T.IID_NULL),
                           T.LOCALE_USER_DEFAULT, flags, C.byref(params),
                           None if put else C.byref(result), C.byref(info), C.byref(arg_error))
        finally:
            for slot in slots:
                rt.VariantClear(C.byref(slot))
        source = _com.take_bstr(info.bstrSource)
        description = _com.take_bstr(info.bstrDescription)
        _com.free_bstr(info.bstrHelpFile)
        hook_failure = _hooks.take_failure()
        try:
            if hr < 0:
                raise self._failure(hr, info, source, description, member, put,
                                    arg_error.value, count) from hook_failure
            _hooks.warn_lost(hook_failure)
            value = None if put else from_variant(result)
            if member.name == "ListReaders" and not value:
                # An empty list is also what the component answers when pcscd is missing.
                code = _service.unreachable()
                if code is not None:
                    raise ComError(code, member=member.name)
            return value
        finally:
            rt.VariantClear(C.byref(result))

    @staticmethod
    def _failure(hr, info, source, description, member, put, arg_error, count):
        if hr == T.DISP_E_EXCEPTION and info.scode:
            hr = info.scode  # the member's own failure
        message = description or None
        if hr in (T.DISP_E_BADPARAMCOUNT, T.DISP_E_PARAMNOTOPTIONAL) and not put:
            names = member.method_params if member.method_params is not None else member.get_params
            return WrongArgumentCount(hr, member.name, names, count, source=source or None)
        if hr in (T.DISP_E_TYPEMISMATCH, T.DISP_E_OVERFLOW) and arg_error < count:
            position = count - 1 - arg_error
            names = [] if put else member.method_params or member.get_params or []
            label = "the value" if put else f"argument {position + 1}"
            if position < len(names):
                label += f" ({names[position]})"
            message = ComError(hr).message.rstrip(".") + f" in {label}."
        return ComError(hr, message, member=member.name, source=source or None)


def _call_member(obj, name, *args):
    """Calls a method (or a property get with parameters) by name: the generated classes'
    methods."""
    return Dispatch.__getattr__(obj, name)(*args)


def _signature(*names):
    """The signature help() shows for a generated method: self and the parameters' names."""
    import inspect
    kind = inspect.Parameter.POSITIONAL_OR_KEYWORD
    return inspect.Signature([inspect.Parameter(n, kind) for n in ("self",) + names])


def _get_member(obj, name):
    """Reads a member by name: the generated classes' properties."""
    return Dispatch.__getattr__(obj, name)


class _BoundMember:
    """A method (or a property get with parameters) of one object, ready to be called."""

    __slots__ = ("_object", "_member", "_flags")

    def __init__(self, obj, member, flags):
        self._object = obj
        self._member = member
        self._flags = flags

    def __call__(self, *args):
        return self._object._invoke(self._member, self._flags, args)

    def __repr__(self):
        return f"<carvix method {self._member.name} of {self._object!r}>"


def _members(obj):
    if not isinstance(obj, Dispatch):
        raise TypeError("carvix: not an automation object")
    if obj._description is None:
        return []
    return list(obj._description.members.values())


def properties(obj):
    """The names of the object's readable properties (without parameters), in the order
    its interface declares them; empty when the object describes no type information."""
    return [m.name for m in _members(obj) if m.get_params == []]


def methods(obj):
    """The names of the object's methods, in the order its interface declares them."""
    return [m.name for m in _members(obj) if m.method_params is not None]
