#include "block_filler.h"

#include <cstdio>
#include <limits>
#include <vector>

namespace carvix::cli {
namespace {

std::string Key(const Property& p) {
    return Utf8(p.name);
}

// What a property's value type asks of its JSON value.
enum class Kind { Text, Number, Date, Flag, List };

Kind KindOf(const Property& p) {
    switch (p.vt) {
        case VT_I1:
        case VT_I2:
        case VT_I4:
        case VT_INT:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_UINT:
            return Kind::Number;
        case VT_DATE:
            return Kind::Date;
        case VT_BOOL:
            return Kind::Flag;
        case VT_VARIANT:
            return Kind::List;
        default:
            return Kind::Text;
    }
}

// One prepared value; validation happens for every field before the first put.
struct Prepared {
    const Property* property;
    const Json* value;
};

void CheckInsurance(const std::vector<Property>& fields, const Json& entry, std::size_t index) {
    const std::string where = "VoluntaryInsurances[" + std::to_string(index) + "]";
    if (!entry.is_object()) {
        throw InputError(where + ": an object with Code, PolicyCode and ValidTo is expected");
    }
    for (const auto& [key, value] : entry.items()) {
        bool known = false;
        for (const Property& p : fields) {
            known = known || key == Key(p);
        }
        if (!known) {
            throw InputError(where + ": unknown field " + key);
        }
    }
    for (const Property& p : fields) {
        const std::string key = Key(p);
        if (!entry.contains(key)) {
            throw InputError(where + ": " + key + " is missing");
        }
        if (KindOf(p) == Kind::Date) {
            (void)DateOf(where + "." + key, entry[key]);
        } else if (!entry[key].is_string()) {
            throw InputError(where + "." + key + ": a string is expected");
        }
    }
}

void Check(const Property& p, const Json& value, const std::vector<Property>& listFields) {
    const std::string key = Key(p);
    switch (KindOf(p)) {
        case Kind::Flag:
            if (!value.is_boolean()) {
                throw InputError(key + ": true or false is expected");
            }
            break;
        case Kind::Text:
            if (!value.is_string()) {
                throw InputError(key + ": a string is expected");
            }
            break;
        case Kind::Number:
            if (!value.is_number_integer() ||
                value.get<std::int64_t>() < std::numeric_limits<std::int32_t>::min() ||
                value.get<std::int64_t>() > std::numeric_limits<std::int32_t>::max()) {
                throw InputError(key + ": a whole number is expected");
            }
            break;
        case Kind::Date:
            (void)DateOf(key, value);
            break;
        case Kind::List:
            if (!value.is_array()) {
                throw InputError(key + ": an array of insurances is expected");
            }
            for (std::size_t i = 0; i < value.size(); ++i) {
                CheckInsurance(listFields, value[i], i);
            }
            break;
    }
}

VARIANT TextArg(const Json& value) {
    return TextValue(Utf16(value.get<std::string>()));
}

VARIANT DateArg(double date) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DATE;
    v.date = date;
    return v;
}

VARIANT ValueArg(const Property& p, const Json& value) {
    switch (KindOf(p)) {
        case Kind::Flag:
            return BoolValue(value.get<bool>());
        case Kind::Number:
            return IntValue(value.get<std::int32_t>());
        case Kind::Date:
            return DateArg(DateOf(Key(p), value));
        default:
            return TextArg(value);
    }
}

// The array of new insurance objects, each filled from its entry.
VARIANT InsurancesArg(const Json& list, const std::vector<Property>& fields,
                      const InsuranceFactory& newInsurance) {
    SAFEARRAY* array =
        SafeArrayCreateVector(VT_VARIANT, 0, static_cast<std::uint32_t>(list.size()));
    if (array == nullptr) {
        throw ClientError{E_OUTOFMEMORY, "making the VoluntaryInsurances array"};
    }
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_ARRAY | VT_VARIANT;
    arg.parray = array;
    try {
        for (std::int32_t i = 0; i < static_cast<std::int32_t>(list.size()); ++i) {
            const Object insurance = newInsurance();
            const Json& entry = list[static_cast<std::size_t>(i)];
            for (const Property& p : fields) {
                insurance.Put(p.name, ValueArg(p, entry[Key(p)]));
            }
            VARIANT element = ObjectValue(insurance.Get());
            const HRESULT hr = SafeArrayPutElement(array, &i, &element);  // copies: own reference
            VariantClear(&element);
            if (FAILED(hr)) {
                throw ClientError{hr, "making the VoluntaryInsurances array"};
            }
        }
    } catch (...) {
        VariantClear(&arg);
        throw;
    }
    return arg;
}

}  // namespace

double DateOf(const std::string& field, const Json& value) {
    unsigned year = 0, month = 0, day = 0;
    char tail = 0;
    const std::string text = value.is_string() ? value.get<std::string>() : std::string();
    if (text.size() != 10 ||
        std::sscanf(text.c_str(), "%4u-%2u-%2u%c", &year, &month, &day, &tail) != 3 ||
        text[4] != '-' || text[7] != '-') {
        throw InputError(field + ": a date YYYY-MM-DD is expected");
    }
    const SYSTEMTIME st{static_cast<std::uint16_t>(year),
                        static_cast<std::uint16_t>(month),
                        0,
                        static_cast<std::uint16_t>(day),
                        0,
                        0,
                        0,
                        0};
    double date = 0;
    if (year < 100 || SystemTimeToVariantTime(&st, &date) == 0 || IsoDay(date) != text) {
        throw InputError(field + ": " + text + " is not a calendar day");
    }
    return date;
}

void FillBlock(const Object& object, const BlockInfo& block, const Json& values,
               const InsuranceFactory& newInsurance) {
    if (!values.is_object()) {
        throw InputError(std::string("a JSON object with the fields of ") + block.cliName +
                         " is expected");
    }
    // The fields come from the object's own type information, like the read side's.
    const std::vector<Property> properties = PropertiesOf(object);
    std::vector<Property> listFields;
    for (const Property& p : properties) {
        if (KindOf(p) == Kind::List && listFields.empty()) {
            listFields = PropertiesOf(newInsurance());
        }
    }
    for (const auto& [key, value] : values.items()) {
        bool known = key == "$signer";  // what `read` showed of the signer; not a field
        for (const Property& p : properties) {
            known = known || key == Key(p);
        }
        if (!known) {
            throw InputError("unknown field " + key + " for " + block.cliName);
        }
    }
    std::vector<Prepared> fields;
    for (const Property& p : properties) {
        const std::string key = Key(p);
        if (!values.contains(key)) {
            if (!p.optional) {
                throw InputError(key + " is missing; " + block.cliName + " needs it" +
                                 (KindOf(p) == Kind::List ? " (an empty list [] for none)" : ""));
            }
            continue;
        }
        Check(p, values[key], listFields);
        fields.push_back({&p, &values[key]});
    }
    for (const Prepared& f : fields) {
        const Property& p = *f.property;
        if (KindOf(p) == Kind::List) {
            object.Put(p.name, InsurancesArg(*f.value, listFields, newInsurance));
            continue;
        }
        object.Put(p.name, ValueArg(p, *f.value));
        if (p.optional) {
            object.Put(p.name + u"Specified", BoolValue(true));
        }
    }
}

}  // namespace carvix::cli
