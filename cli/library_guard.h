#pragma once
// One library, one writer: a velunor-cli command that writes the library takes its lock first,
// and refuses while another Velunor process holds it unless told --force.

namespace velunor::cli {

/// The exit status of a command refused because another process uses the library.
inline constexpr int kLibraryInUseStatus = 3;

/// Takes "--force" out of `argv` (wherever it stands; `argc` counts what is left). For a command
/// that writes the library (download, update, retry, refetch, shelf delete) takes the library's
/// lock; when another process holds it, and "--force" was not given, says so and returns
/// kLibraryInUseStatus. 0 when the command may go on. Commands that only read go on at once.
int GuardLibrary(int& argc, char** argv);

} // namespace velunor::cli
