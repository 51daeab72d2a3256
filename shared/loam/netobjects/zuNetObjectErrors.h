#pragma once
// Status codes of the netobject protocol (the ones that travel in message
// headers) and the texts of the errors a net object sets itself.

inline constexpr unsigned short zuErrInvalidAuthority = 770;
inline constexpr unsigned short zuErrUnsupportedType = 771;
inline constexpr unsigned short zuErrUnexpectedData = 772;
inline constexpr unsigned short zuErrHandlerNotRunning = 773;
inline constexpr unsigned short zuErrObjectNotRegistered = 774;
// The client's and the server's protocol versions differ.
inline constexpr unsigned short zuErrVersionMismatch = 775;
inline constexpr unsigned short zuErrTooManyConnections = 1030;
inline constexpr unsigned short zuErrFileOpen = 1538;
inline constexpr unsigned short zuErrFileRead = 1540;
inline constexpr unsigned short zuErrFileWrite = 1541;

// Code 772; also what a reader overrun becomes.
inline constexpr const char* kzuUnexpectedDataText =
    "Got unexpected data while handling the request. The server and the client might be "
    "incompatible.";
// Code 1538; "f" = file name, "e" = error text.
inline constexpr const char* kzuFileOpenErrorText = "Error opening file \"$f\" error: $e.";
// Code 1540 and 1541; "f" = file name.
inline constexpr const char* kzuFileReadErrorText = "Error reading from file \"$f\".";
inline constexpr const char* kzuFileWriteErrorText = "Error writing to file \"$f\".";
// Codes 773 and 774.
inline constexpr const char* kzuHandlerNotRunningText =
    "Unable to complete operation. Netobject handler not running.";
inline constexpr const char* kzuObjectNotRegisteredText = "Object not registered.";
