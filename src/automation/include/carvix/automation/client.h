// Calling scriptable objects by name from C++, as a script engine does: create an object by
// ProgID, call its methods and read and write its properties by name, learn its members from
// its type information, build and read argument values, and get every failure as one error
// value (its HRESULT, the message and what was being done).
#pragma once

#include "carvix/automation/failures.h"
#include "carvix/automation/scoped.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace carvix::automation {

/// A failed call or creation.
///   hresult  the member's own HRESULT when Invoke reported DISP_E_EXCEPTION, else the call's;
///   message  the description the member gave, else the component's message text for the
///            HRESULT (empty when neither can be had);
///   doing    what was being done ("creating CARVIX.DocAdmin", "reading CardID", "ListReaders").
/// what() is "doing: 0x80004005 message".
class CARVIX_COM_API ClientError : public std::runtime_error {
  public:
    ClientError(HRESULT hr, std::string doing, std::string description = {});
    ClientError(const ClientError&) = default;
    ClientError& operator=(const ClientError&) = default;
    ~ClientError() override;

    HRESULT hresult;
    std::string message;
    std::string doing;

    /// What the failure means and what to do next, from the one failure table.
    FailureExplanation Explanation() const noexcept { return ExplainFailure(hresult); }

  private:
    ClientError(HRESULT hr, std::string doing, std::string message, int);
};

/// The component's message text for `hr`, empty when it cannot be had.
CARVIX_COM_API std::string MessageText(HRESULT hr);

/// "0x80070057".
CARVIX_COM_API std::string HexCode(HRESULT hr);

/// The description of the calling thread's error object, which the object is taken for (the
/// thread has none afterwards); empty when there is none. For callers of an interface's methods
/// directly: through Invoke the description arrives in EXCEPINFO instead.
CARVIX_COM_API std::u16string TakeErrorDescription();

/// UTF-8 and UTF-16 text; a broken sequence becomes U+FFFD.
CARVIX_COM_API std::u16string Utf16(std::string_view text);
CARVIX_COM_API std::string Utf8(std::u16string_view text);

// ---- values --------------------------------------------------------------------------------

/// A VT_BSTR value.
CARVIX_COM_API VARIANT TextValue(std::u16string_view text);
/// A VT_I4 value.
CARVIX_COM_API VARIANT IntValue(std::int32_t value);
/// A VT_UI4 value.
CARVIX_COM_API VARIANT UIntValue(std::uint32_t value);
/// A VT_BOOL value (VARIANT_TRUE or VARIANT_FALSE).
CARVIX_COM_API VARIANT BoolValue(bool value);
/// A VT_DISPATCH value holding its own reference to `object` (may be null).
CARVIX_COM_API VARIANT ObjectValue(IDispatch* object);
/// The UTF-8 text of a VT_BSTR value; empty for any other type.
CARVIX_COM_API std::string TextOf(const VARIANT& value);
/// The UTF-8 text of a BSTR (a null BSTR is empty).
CARVIX_COM_API std::string Utf8Of(BSTR text);

/// Walks a one-dimensional array of VARIANTs (VT_ARRAY | VT_VARIANT) in order: `each` gets the
/// element's index from 0 and the element (valid during the call). Returns the number of
/// elements. Throws ClientError(DISP_E_TYPEMISMATCH, doing) for any other value, and the
/// failure of an element that cannot be read.
CARVIX_COM_API std::size_t ForEachElement(
    const VARIANT& array, const std::string& doing,
    const std::function<void(std::size_t index, const VARIANT& element)>& each);

/// Whether two member names are the same, ASCII letters compared without regard to case (as
/// the objects compare them).
CARVIX_COM_API bool SameName(std::string_view a, std::string_view b) noexcept;

/// Arguments in their natural order (first argument first). Takes over the values given to
/// it and clears them on destruction.
class CARVIX_COM_API Arguments {
  public:
    Arguments() = default;
    Arguments(std::initializer_list<VARIANT> adopted);
    Arguments(Arguments&& other) noexcept;
    Arguments& operator=(Arguments&& other) noexcept;
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;
    ~Arguments();

    /// A new empty value at the end, to be filled in by the caller.
    VARIANT* Add();
    /// Takes over `adopted` as the next argument.
    void Add(VARIANT adopted);
    std::size_t Size() const noexcept { return values_.size(); }
    /// The arguments last first, as IDispatch::Invoke takes them (the list keeps owning them).
    std::vector<VARIANT> Reversed() const;

  private:
    void Clear() noexcept;
    std::vector<VARIANT> values_;
};

// ---- type information ----------------------------------------------------------------------

/// How a member is invoked.
enum class Invocation { Method, PropertyGet, PropertyPut };

struct Parameter {
    std::string name;
    VARTYPE vt = VT_EMPTY;
    bool in = true;       // given by the caller
    bool retval = false;  // the member's result
};

struct CARVIX_COM_API Member {
    DISPID id = DISPID_UNKNOWN;
    Invocation kind = Invocation::Method;
    std::string name;
    std::string help;
    bool inProcessOnly = false;  // takes a raw pointer: only callers in this process can call it
    std::vector<Parameter> params;

    /// True when the caller passes nothing (every parameter is the result).
    bool TakesNoArguments() const;
};

/// An interface as its type information describes it: members in their declared order.
struct CARVIX_COM_API TypeDescription {
    std::string name;
    std::string help;
    std::vector<Member> members;

    /// The member `name` of `kind` (names compared without regard to ASCII case), or null.
    const Member* Find(std::string_view name, Invocation kind) const;
};

// ---- objects -------------------------------------------------------------------------------

/// An owned IDispatch reference with calls by name. Every failing call throws ClientError.
class CARVIX_COM_API Object {
  public:
    Object() = default;
    /// Takes over a reference the caller owns.
    explicit Object(IDispatch* adopted) noexcept : p_(ComPtr<IDispatch>::Adopt(adopted)) {}
    explicit Object(ComPtr<IDispatch> object) noexcept : p_(std::move(object)) {}
    /// A new reference to `object` (AddRef); an empty Object for null.
    static Object Share(IDispatch* object);

    /// CLSIDFromProgID and CoCreateInstance (in-process), asking for IDispatch.
    static Object Create(std::u16string_view progId);

    IDispatch* Get() const noexcept { return p_.Get(); }
    explicit operator bool() const noexcept { return static_cast<bool>(p_); }

    /// The DISPID of `name` (GetIDsOfNames).
    DISPID IdOf(std::u16string_view name) const;

    /// Method call by name with arguments in their natural order.
    void Call(std::u16string_view name, Arguments args, ScopedVariant& out) const;
    /// Property get by name.
    void Get(std::u16string_view name, ScopedVariant& out) const;
    /// Property get by name that may fail: its HRESULT (the member's own one for
    /// DISP_E_EXCEPTION) instead of an exception. A name the object does not have still throws.
    HRESULT TryGet(std::u16string_view name, ScopedVariant& out) const;
    /// As TryGet, for the property getter `id` (from the type information).
    HRESULT TryGet(DISPID id, ScopedVariant& out) const;
    /// Property put by name; takes over `value`.
    void Put(std::u16string_view name, VARIANT value) const;

    /// Invoke of member `id` with DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT
    /// (a put passes its one argument as the new value, and `out` is left empty). `doing`
    /// names the call in the error, `member` the member in the text of a refused argument
    /// (`doing` when empty).
    void Invoke(DISPID id, std::uint16_t flags, const Arguments& args, ScopedVariant& out,
                const std::string& doing, const std::string& member = {}) const;
    /// As Invoke, the member's name for the error's text.
    void InvokeByName(std::u16string_view name, std::uint16_t flags, const Arguments& args,
                      ScopedVariant& out) const;

    /// The object's type, read once per interface and process; throws when the object gives
    /// no type information or the runtime cannot describe it.
    std::shared_ptr<const TypeDescription> Type() const;
    /// As Type, null instead of an exception.
    std::shared_ptr<const TypeDescription> TryType() const noexcept;

  private:
    ComPtr<IDispatch> p_;
};

}  // namespace carvix::automation
