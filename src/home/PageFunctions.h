#pragma once

#include <array>
#include <string_view>

// The pages' global functions the program calls (see PageScript::call). The
// names are held against resources/page-protocol.json by a test, as are the
// actions the pages post.
namespace velvox::PageFunction {

inline constexpr std::string_view auth = "window.orvoAuth";
inline constexpr std::string_view billing = "window.orvoBilling";
inline constexpr std::string_view billingNote = "window.orvoBillingNote";
inline constexpr std::string_view capture = "window.orvoCapture";
inline constexpr std::string_view dictated = "window.orvoDictated";
inline constexpr std::string_view insert = "window.orvoInsert";
inline constexpr std::string_view level = "window.orvoLevel";
inline constexpr std::string_view live = "window.orvoLive";
inline constexpr std::string_view state = "window.orvoState";
inline constexpr std::string_view symbols = "window.orvoSymbols";
inline constexpr std::string_view usage = "window.orvoUsage";

inline constexpr std::array all = {auth,  billing, billingNote, capture, dictated, insert,
                                   level, live,    state,       symbols, usage};

}  // namespace velvox::PageFunction
