#pragma once

#include <curl/curl.h>

#include <string>
#include <strings.h>

namespace zorvane::linux_platform {

// What every download of ours asks of libcurl: the address's own scheme only (a plain http address
// is allowed only where the caller let one through) and redirects to https alone, an error status
// as a failure, a bounded connect, and a stalled server given up after half a minute without
// progress. No proxy is set, so libcurl takes it from the environment (https_proxy, no_proxy…).
inline void setDownloadOptions(CURL* handle, const std::string& url)
{
    const bool https = ::strncasecmp(url.c_str(), "https:", 6) == 0;
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, https ? "https" : "http");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 20L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, 30L);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "Zorvane");
}

} // namespace zorvane::linux_platform
