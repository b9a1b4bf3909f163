#include "CurlLibrary.h"

#include <dlfcn.h>

#include <QLoggingCategory>

namespace
{

Q_LOGGING_CATEGORY(lcCurl, "krel.update", QtInfoMsg)

template <typename Fn> bool Resolve(void* library, const char* name, Fn* fn)
{
    *fn = reinterpret_cast<Fn>(::dlsym(library, name));
    return *fn != nullptr;
}

CurlLibrary* Load()
{
    // The soname of Debian's libcurl4 (the OpenSSL build the program was compiled against; its ABI has not changed
    // since 7.16).
    void* library = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        qCWarning(lcCurl, "no downloads: %s", ::dlerror());
        return nullptr;
    }
    static CurlLibrary curl;
    CURLcode (*globalInit)(long) = nullptr;
    const bool resolved = Resolve(library, "curl_global_init", &globalInit)
        && Resolve(library, "curl_easy_init", &curl.easyInit) && Resolve(library, "curl_easy_setopt", &curl.easySetopt)
        && Resolve(library, "curl_easy_perform", &curl.easyPerform)
        && Resolve(library, "curl_easy_getinfo", &curl.easyGetinfo)
        && Resolve(library, "curl_easy_strerror", &curl.easyStrerror)
        && Resolve(library, "curl_easy_cleanup", &curl.easyCleanup)
        && Resolve(library, "curl_slist_append", &curl.slistAppend)
        && Resolve(library, "curl_slist_free_all", &curl.slistFreeAll);
    if (!resolved) {
        qCWarning(lcCurl, "no downloads: libcurl.so.4 lacks %s", ::dlerror());
        return nullptr;
    }
    // Once, before any handle is made; the library then stays for the rest of the run.
    if (globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        qCWarning(lcCurl, "no downloads: libcurl cannot be initialised");
        return nullptr;
    }
    return &curl;
}

} // namespace

const CurlLibrary* LoadCurl()
{
    static const CurlLibrary* const curl = Load();
    return curl;
}
