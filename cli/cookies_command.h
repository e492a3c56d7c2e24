#pragma once

namespace velunor::cli {

/// velunor-cli cookies [clear [SITE]]: lists each site's kept cookies (names, domain, path,
/// expiry, never values), or clears the jar of one site, named by its SiteName or its rule
/// file, or of every site.
int RunCookies(int argc, char** argv);

} // namespace velunor::cli
