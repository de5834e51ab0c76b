#pragma once

// The automation layer: components of our own reached by ProgID and by member name, with the
// calling conventions the callers rely on. Nothing here throws or shows anything: a missing
// object, a member it lacks or a refused call gives the empty result of its kind.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "text/Text.h"

namespace qubrelo::automation {

// Initialise / release the layer for the calling thread. Pairs nest; the count is per thread.
void Initialize();
void Uninitialize();
// How many Initialize calls of this thread are not yet paired (for tests).
int InitializationDepth();

// Initialise on construction, release on destruction.
class Scope {
  public:
    Scope() { Initialize(); }
    ~Scope() { Uninitialize(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

class Component;
class AutomationVariant;

// A holder of at most one reference to a component. Copying adds a reference; Clear releases.
class AutomationObject {
  public:
    AutomationObject() = default;
    explicit AutomationObject(std::shared_ptr<Component> component)
        : component_(std::move(component)) {}

    bool IsEmpty() const { return component_ == nullptr; }
    void Clear() { component_.reset(); }

    // Creates the component registered for progId. On success the old reference is replaced
    // and true returned; on failure the holder is unchanged and false returned.
    bool Create(std::string_view progId);

    // Member access by name, letter case ignored. A property read of a method calls it.
    AutomationVariant Get(std::string_view member,
                          std::initializer_list<AutomationVariant> args = {}) const;
    bool Put(std::string_view member, const AutomationVariant& value,
             std::initializer_list<AutomationVariant> index = {}) const;
    AutomationVariant Call(std::string_view member,
                           std::initializer_list<AutomationVariant> args = {}) const;

    // Typed reads: empty text, 0 or an empty object when the read fails.
    Text GetText(std::string_view member, std::initializer_list<AutomationVariant> args = {}) const;
    double GetNumber(std::string_view member,
                     std::initializer_list<AutomationVariant> args = {}) const;
    AutomationObject GetObject(std::string_view member,
                               std::initializer_list<AutomationVariant> args = {}) const;

    const std::shared_ptr<Component>& component() const { return component_; }
    // The number of holders sharing the component (for tests).
    long UseCount() const { return component_.use_count(); }

  private:
    std::shared_ptr<Component> component_;
};

// An automation value. Starts as the integer 0.
class AutomationVariant {
  public:
    struct Empty {
        bool operator==(const Empty&) const = default;
    };
    using Value = std::variant<Empty, std::int32_t, double, bool, std::u16string, ByteBuffer,
                               AutomationObject>;

    AutomationVariant() : value_(std::int32_t{0}) {}
    AutomationVariant(std::int32_t v) : value_(v) {}
    AutomationVariant(double v) : value_(v) {}
    AutomationVariant(bool v) : value_(v) {}
    AutomationVariant(std::u16string v) : value_(std::move(v)) {}
    AutomationVariant(ByteBuffer v) : value_(std::move(v)) {}
    AutomationVariant(AutomationObject v) : value_(std::move(v)) {}

    // A text variant from code-page-936 text (held as UTF-16).
    static AutomationVariant FromText(std::string_view text);
    static AutomationVariant MakeEmpty() {
        AutomationVariant v;
        v.value_ = Empty{};
        return v;
    }

    // Conversions; each gives the empty result of its kind when the value cannot convert.
    // Text: numbers in decimal, false -> "0", true -> "-1", characters code page 936 cannot
    // hold -> "?". Bytes: a byte array as it is, nothing for other kinds.
    Text ToText() const;
    std::u16string ToUtf16() const;
    double ToNumber() const;
    bool ToBool() const;
    ByteBuffer ToBytes() const;
    AutomationObject ToObject() const;

    void Clear() { value_ = Empty{}; }
    bool IsEmpty() const { return std::holds_alternative<Empty>(value_); }
    const Value& value() const { return value_; }

  private:
    Value value_;
};

// What every component implements. Member names arrive folded to ASCII lower case.
// Each returns false for a member it lacks or a call it refuses.
class Component {
  public:
    virtual ~Component() = default;
    virtual bool Get(std::string_view member, std::span<const AutomationVariant> args,
                     AutomationVariant& result) = 0;
    virtual bool Put(std::string_view member, std::span<const AutomationVariant> index,
                     const AutomationVariant& value) = 0;
    virtual bool Call(std::string_view member, std::span<const AutomationVariant> args,
                      AutomationVariant& result) = 0;
};

// A component whose members are all read-only properties: it refuses every write and call.
class ReadOnlyComponent : public Component {
  public:
    bool Put(std::string_view, std::span<const AutomationVariant>,
             const AutomationVariant&) override {
        return false;
    }
    bool Call(std::string_view, std::span<const AutomationVariant>, AutomationVariant&) override {
        return false;
    }
};

// Test seam: while an instance lives, creating progId on this thread fails.
class ScopedCreationFailure {
  public:
    explicit ScopedCreationFailure(std::string progId);
    ~ScopedCreationFailure();
    ScopedCreationFailure(const ScopedCreationFailure&) = delete;
    ScopedCreationFailure& operator=(const ScopedCreationFailure&) = delete;

  private:
    std::string progId_;
};

}  // namespace qubrelo::automation
