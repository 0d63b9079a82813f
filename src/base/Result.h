#pragma once

#include <concepts>
#include <type_traits>
#include <utility>
#include <variant>

namespace velvox {

// The error of a Result, named where the value and the error could be
// mistaken for each other (Result<std::string, std::string>).
template <typename Error>
struct Failure {
    Error error;
};
template <typename Error>
Failure(Error) -> Failure<Error>;

namespace detail {
template <typename Type, typename Value, typename Error>
concept NotAResult = !std::is_base_of_v<std::variant<Value, Error>, std::remove_cvref_t<Type>> &&
                     !std::is_same_v<std::remove_cvref_t<Type>, std::variant<Value, Error>>;
template <typename Value, typename Error, typename Other>
concept IsValue = NotAResult<Other, Value, Error> &&
    (std::is_same_v<std::remove_cvref_t<Other>, Value> ||
     (!std::is_same_v<std::remove_cvref_t<Other>, Error> && std::constructible_from<Value, Other>));
template <typename Value, typename Error, typename Other>
concept IsError =
    NotAResult<Other, Value, Error> && !IsValue<Value, Error, Other> &&
    (std::is_same_v<std::remove_cvref_t<Other>, Error> || std::constructible_from<Error, Other>);
}  // namespace detail

// The one way a fallible operation answers: a value or an error, never both,
// and never an exception across a module line (nothing to give back on
// success: Result<std::monostate, Error>). Whatever converts to the error
// type (and not to the value type) converts to a failed Result, so a
// function can `return SomeError{...}`; where both could take it, Failure
// says which.
//
// It is the variant of the two (the value first), so code that reads
// variants (std::get_if, std::holds_alternative, std::visit) reads it too.
template <typename Value, typename Error>
class Result : public std::variant<Value, Error> {
    using Variant = std::variant<Value, Error>;

  public:
    using ValueType = Value;
    using ErrorType = Error;

    // A value of the value type is a success and one of the error type a
    // failure; anything else becomes whichever of the two it converts to
    // (the value, when it converts to both).
    template <typename Other = Value>
    requires(detail::IsValue<Value, Error, Other>) Result(Other&& value)
        : Variant(std::in_place_index<0>, std::forward<Other>(value)) {}
    template <typename Other>
    requires(detail::IsError<Value, Error, Other>) Result(Other&& error)
        : Variant(std::in_place_index<1>, std::forward<Other>(error)) {}
    template <typename Other>
    requires std::constructible_from<Error, Other> Result(Failure<Other> failure)
        : Variant(std::in_place_index<1>, std::move(failure.error)) {}

    bool ok() const { return this->index() == 0; }
    const Value& value() const { return std::get<0>(variant()); }
    Value& value() { return std::get<0>(variant()); }
    const Error& error() const { return std::get<1>(variant()); }
    Error& error() { return std::get<1>(variant()); }
    // The value, or the fallback when the operation failed.
    Value valueOr(Value fallback) const { return ok() ? value() : std::move(fallback); }

  private:
    const Variant& variant() const { return *this; }
    Variant& variant() { return *this; }
};

}  // namespace velvox
