#pragma once
// Automation seam: objects created by class identifier and driven by
// late-bound calls (method name, arguments in order). On POSIX a table of
// in-process classes stands in for the system's automation; on Windows the
// same table is asked first, then COM (ProgID, IDispatch).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kvt::automation {

// A date-time as the host hands it out.
struct Date {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0;
    bool operator==(const Date&) const = default;
};

// An automation value: empty, null, text, integer, floating, date, boolean, or
// the marker of an omitted argument.
class Variant {
  public:
    enum class Kind { Empty, Null, Text, Integer, Floating, Date, Boolean, Missing };

    Variant() = default;
    static Variant null() { return Variant(Kind::Null, std::monostate{}); }
    static Variant missing() { return Variant(Kind::Missing, std::monostate{}); }
    static Variant text(std::string value) { return Variant(Kind::Text, std::move(value)); }
    static Variant integer(std::int64_t value) { return Variant(Kind::Integer, value); }
    static Variant floating(double value) { return Variant(Kind::Floating, value); }
    static Variant date(Date value) { return Variant(Kind::Date, value); }
    static Variant boolean(bool value) { return Variant(Kind::Boolean, value); }

    Kind kind() const { return kind_; }
    bool isEmpty() const { return kind_ == Kind::Empty; }
    bool isNull() const { return kind_ == Kind::Null; }
    bool isMissing() const { return kind_ == Kind::Missing; }

    // The standard conversion to text: empty gives the empty text, numbers and
    // dates their usual forms. A null or missing value cannot be converted and
    // raises kvt::Error, which callers treat like a failed call. A floating
    // value is written with up to 15 significant digits and the workstation's
    // decimal separator; a date as dd/mm/yyyy, followed by hh:mm:ss when it has
    // a time of day, or only the time when its day is the zero date 30/12/1899.
    std::string toText() const;
    // The standard conversion to a 32-bit integer: empty gives 0, a text must
    // be a decimal whole number (blanks around it allowed), a floating value is
    // rounded to the nearest (ties to even), a boolean gives -1 or 0. Anything
    // else, or a value beyond 32 bits, raises kvt::Error.
    std::int32_t toInteger() const;

    // The raw payloads; valid only for the matching kind.
    const std::string& asText() const { return std::get<std::string>(value_); }
    std::int64_t asInteger() const { return std::get<std::int64_t>(value_); }
    double asFloating() const { return std::get<double>(value_); }
    const Date& asDate() const { return std::get<Date>(value_); }
    bool asBoolean() const { return std::get<bool>(value_); }

  private:
    using Payload = std::variant<std::monostate, std::string, std::int64_t, double, Date, bool>;
    Variant(Kind kind, Payload value) : kind_(kind), value_(std::move(value)) {}

    Kind kind_ = Kind::Empty;
    Payload value_;
};

using Arguments = std::vector<Variant>;

// Where toText takes the decimal separator of a floating value from: the
// workstation's setting, unless a test installs another source (an empty
// function restores the workstation's).
void setDecimalSeparatorSource(std::function<std::string()> source);

// An automation object. A failed call raises kvt::Error (the program's error
// class) with the object's own message.
class Object {
  public:
    virtual ~Object() = default;
    virtual Variant call(std::string_view method, const Arguments& arguments) = 0;
};

using Factory = std::function<std::shared_ptr<Object>()>;

// Creates an object of the class; raises kvt::Error when the class is unknown
// or the object cannot be made. On Windows a class not in the table below
// is a COM ProgID, created on the calling thread (COM is initialised there,
// apartment-threaded, at the first call) and driven through IDispatch.
std::shared_ptr<Object> createObject(std::string_view classId);

// The in-process class table, consulted before anything else on every
// platform: on POSIX it holds the host stand-in, on Windows whatever the
// process itself provides (a test's scripted host, a stand-in compiled in).
// Registering a class again replaces its factory; the previous one is handed
// back so a test can put it back; a null factory removes the class.
Factory registerClass(std::string classId, Factory factory);

}  // namespace kvt::automation
