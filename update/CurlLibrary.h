#pragma once

#include <curl/curl.h>

// libcurl, loaded on the first transfer rather than with the program: with the TLS, SSH, LDAP and RTMP libraries it
// brings, it would cost the tray program megabytes of memory all week for the few transfers of an update check.
struct CurlLibrary {
    CURL* (*easyInit)();
    CURLcode (*easySetopt)(CURL*, CURLoption, ...);
    CURLcode (*easyPerform)(CURL*);
    CURLcode (*easyGetinfo)(CURL*, CURLINFO, ...);
    const char* (*easyStrerror)(CURLcode);
    void (*easyCleanup)(CURL*);
    curl_slist* (*slistAppend)(curl_slist*, const char*);
    void (*slistFreeAll)(curl_slist*);
};

// The library, loaded and initialised once for the process (any thread); null, with one log line why, when it cannot
// be loaded.
const CurlLibrary* LoadCurl();
