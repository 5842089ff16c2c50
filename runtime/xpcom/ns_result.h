// Runtime surface: result codes of the component runtime.
//
// Every interface method of the runtime and of components returns an
// nsresult: NS_OK (0) or another success code, or a failure code with the
// high bit set. The values are the component model's fixed numbers; scripts
// and hosts compare them exactly.
#pragma once

#include <cstdint>

using nsresult = std::uint32_t;
using nsrefcnt = std::uint32_t;

inline constexpr nsresult NS_OK = 0;
inline constexpr nsresult NS_ERROR_NOT_IMPLEMENTED = 0x80004001u;
inline constexpr nsresult NS_NOINTERFACE = 0x80004002u;
inline constexpr nsresult NS_ERROR_NO_INTERFACE = NS_NOINTERFACE;
inline constexpr nsresult NS_ERROR_NULL_POINTER = 0x80004003u;
inline constexpr nsresult NS_ERROR_ABORT = 0x80004004u;
inline constexpr nsresult NS_ERROR_FAILURE = 0x80004005u;
inline constexpr nsresult NS_ERROR_UNEXPECTED = 0x8000FFFFu;
inline constexpr nsresult NS_ERROR_OUT_OF_MEMORY = 0x8007000Eu;
inline constexpr nsresult NS_ERROR_INVALID_ARG = 0x80070057u;
inline constexpr nsresult NS_ERROR_NO_AGGREGATION = 0x80040110u;
inline constexpr nsresult NS_ERROR_NOT_AVAILABLE = 0x80040111u;
inline constexpr nsresult NS_ERROR_FACTORY_NOT_REGISTERED = 0x80040154u;
inline constexpr nsresult NS_ERROR_FACTORY_EXISTS = 0xC1F30100u;
inline constexpr nsresult NS_ERROR_NOT_INITIALIZED = 0xC1F30001u;
inline constexpr nsresult NS_ERROR_ALREADY_INITIALIZED = 0xC1F30002u;

// True for failure codes (high bit set).
constexpr bool NS_FAILED(nsresult rv) { return (rv & 0x80000000u) != 0; }
// True for NS_OK and the other success codes.
constexpr bool NS_SUCCEEDED(nsresult rv) { return !NS_FAILED(rv); }
