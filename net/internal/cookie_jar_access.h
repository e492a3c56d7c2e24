#pragma once
// What the transfer code needs of a cookie jar beyond its public face: the libcurl share that
// holds its cookies, and the note that an answer may have changed them. Only the fetcher's own
// files include this header.

#include "net/cookie_jar.h"

#include <curl/curl.h>

namespace velunor::internal {

struct CookieJarAccess {
    /// The share handle every transfer with `jar` uses; null when libcurl could not make one
    /// (the transfer then keeps no cookies).
    static CURLSH* Share(const CCookieJar& jar);
    /// Called after each transfer with `jar`: `setCookie` when an answer carried Set-Cookie.
    /// A change is written at once unless the file was written less than a few seconds ago; a
    /// change left waiting goes out with a later transfer or SaveCookieJars. Blocks on the disk
    /// when it writes.
    static void AfterTransfer(CCookieJar& jar, bool setCookie);
};

} // namespace velunor::internal
