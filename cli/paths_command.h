#pragma once

namespace velunor::cli {

/// velunor-cli paths: prints where this copy keeps each of its folders (settings, library,
/// bookshelf, rules in the order they win, shipped pages, cache, cookies) and whether it runs
/// portable or installed. Works on the process's folder layout, set up by main.
int RunPaths(int argc, char** argv);

} // namespace velunor::cli
