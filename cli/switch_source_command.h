#pragma once

namespace velunor::cli {

/// velunor-cli switch-source N [--site NAME [--from K]]: searches the selected sites other than
/// novel N's own for it and lists those that have it, with their chapter count and latest
/// chapter, and those that failed, with why; with --site takes from the site NAME the failed,
/// empty and pending chapters of novel N, or with --from every chapter from chapter K on, as the
/// shelf's "换源…" does. 0 when a site was listed, or every chapter the switch fetched was
/// stored; 1 otherwise; 2 for a wrong command line.
int RunSwitchSource(int argc, char** argv);

} // namespace velunor::cli
