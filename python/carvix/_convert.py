"""Blocks and other automation objects as plain Python values: a dict of the readable
properties, in the order the interface declares them, and JSON text of that dict."""
import base64
import datetime
import json

from ._dispatch import Dispatch, properties
from ._errors import ComError


def _plain(value):
    if isinstance(value, Dispatch):
        return to_dict(value)
    if isinstance(value, (list, tuple)):
        return [_plain(item) for item in value]
    return value


def _read(obj, name):
    try:
        return _plain(getattr(obj, name))
    except ComError:
        return None  # a field the block does not hold refuses to be read


def to_dict(obj):
    """The object's readable properties (those without parameters) by name; objects inside
    become dicts as well, and a property that refuses to be read (a field the block does not
    hold) is None. Empty for an object without type information."""
    names = properties(obj)
    out = {}
    for name in names:
        # A field whose "...Specified" companion says it is not set is not read at all.
        flag = name + "Specified"
        if flag in names and out.get(flag, getattr(obj, flag)) is False:
            out[name] = None
        else:
            out[name] = _read(obj, name)
    return out


def _json_value(value):
    if isinstance(value, (bytes, bytearray)):
        return base64.b64encode(bytes(value)).decode("ascii")
    if isinstance(value, (datetime.datetime, datetime.date)):
        return value.isoformat()
    raise TypeError(f"carvix: {type(value).__name__} has no JSON form")


def to_json(obj, **options):
    """to_dict(obj) as JSON text: bytes as Base64, dates in ISO 8601. `options` go to
    json.dumps (indent=2, for example)."""
    return json.dumps(to_dict(obj), default=_json_value, **options)
