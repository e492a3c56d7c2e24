#pragma once

namespace velunor::cli {

/// velunor-cli sites: the rule files with their index, site name, address and selection.
int RunSites(int argc, char** argv);

/// velunor-cli select 0,2 | all | none: stores a site selection as the dialog would.
int RunSelect(int argc, char** argv);

/// velunor-cli search NAME: runs the search job, printing rows and status lines as they come;
/// Ctrl-C stops it as the stop button does.
int RunSearch(int argc, char** argv);

} // namespace velunor::cli
