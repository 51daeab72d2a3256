#pragma once
// Fixed texts of the library's own error messages.

// Code 259.
inline constexpr const char* kzuMemoryExhaustedText =
    "Could not perform operation because available memory is exhausted.";
// Code 261, "e" = the exception's what() text.
inline constexpr const char* kzuUnexpectedExceptionText =
    "An unexpected exception \"$e\" occurred.  Please notify Tarnwell Technical Support.";
// A zuException with this text and no "e" gets its code as "e".
inline constexpr const char* kzuUnspecifiedErrorText =
    "An unspecified error \"$e\" occurred.  Please notify Tarnwell Technical Support.";
// Code 261 where a catch-all meets something that is not a std::exception;
// "f" = source file, "l" = line.
inline constexpr const char* kzuInternalErrorAtText =
    "An internal error occurred in \"$f\" line \"$l\".  Please notify Tarnwell Tech Support.";
// Code 261 with "e" a short description.
inline constexpr const char* kzuInternalErrorText =
    "An internal error \"$e\" occurred.  Please notify Tarnwell Tech Support.";

// Status codes raised by the foundation.
inline constexpr unsigned short kzuCodeMemoryExhausted = 259;
inline constexpr unsigned short kzuCodeEventFailed = 260;
inline constexpr unsigned short kzuCodeInternalError = 261;
inline constexpr unsigned short kzuCodeValueRange = 2049;
