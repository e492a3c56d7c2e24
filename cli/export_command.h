#pragma once

namespace velunor::cli {

/// velunor-cli export N --format epub|txt [--to FILE] [--convert s2t|t2s]
/// [--encoding utf-8|gb18030]: exports novel N of the bookshelf to FILE (default: the novel's
/// name with ".epub" or ".txt", in the folder velunor-cli was started in), printing the status
/// lines of the export. 0 when the file was written; 1 when it could not be, and nothing was
/// left behind; 2 for a usage error.
int RunExport(int argc, char** argv);

} // namespace velunor::cli
