#include "text/urlscheme.h"

#include "platform/codepage.h"

#include <array>
#include <utility>

namespace tarnhold {

TUrlScheme CrackUrlScheme(std::string_view url) {
    static constexpr std::array<std::pair<std::string_view, TUrlScheme>, 11> kSchemes{{
        {"ftp", usFtp},
        {"gopher", usGopher},
        {"http", usHttp},
        {"https", usHttps},
        {"file", usFile},
        {"news", usNews},
        {"mailto", usMailto},
        {"socks", usSocks},
        {"javascript", usJavascript},
        {"vbscript", usVbscript},
        {"res", usRes},
    }};
    std::size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return usUnknown;
    std::string_view scheme = url.substr(0, colon);
    // Equal texts are of equal length: the others are passed over unread.
    for (const auto& [name, value] : kSchemes) {
        if (scheme.size() == name.size() && AnsiSameText(scheme, name))
            return value;
    }
    return usUnknown;
}

std::size_t SchemePrefixLength(std::string_view url) {
    const std::size_t p = url.find("://");
    return p == std::string_view::npos ? 0 : p + 3;
}

std::string_view WithoutScheme(std::string_view url) {
    return url.substr(SchemePrefixLength(url));
}

bool IsScriptOrMail(std::string_view value) {
    for (std::string_view scheme : {std::string_view("javascript:"), std::string_view("mailto:")}) {
        if (value.size() >= scheme.size() && AnsiSameText(value.substr(0, scheme.size()), scheme))
            return true;
    }
    return false;
}

} // namespace tarnhold

namespace tarnhold {

namespace {

struct UrlParts {
    std::string_view scheme; // without ':'
    bool hasScheme = false;
    std::string_view authority;
    bool hasAuthority = false;
    std::string_view path;
    std::string_view query; // without '?'
    bool hasQuery = false;
    std::string_view fragment; // without '#'
    bool hasFragment = false;
};

bool IsSchemeChar(char c, bool first) {
    bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    return first ? alpha : alpha || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

UrlParts ParseUrl(std::string_view s) {
    UrlParts p;
    std::size_t colon = s.find(':');
    if (colon != std::string_view::npos && colon > 0) {
        bool valid = true;
        for (std::size_t i = 0; i < colon && valid; ++i)
            valid = IsSchemeChar(s[i], i == 0);
        if (valid) {
            p.scheme = s.substr(0, colon);
            p.hasScheme = true;
            s.remove_prefix(colon + 1);
        }
    }
    if (std::size_t hash = s.find('#'); hash != std::string_view::npos) {
        p.fragment = s.substr(hash + 1);
        p.hasFragment = true;
        s = s.substr(0, hash);
    }
    if (std::size_t q = s.find('?'); q != std::string_view::npos) {
        p.query = s.substr(q + 1);
        p.hasQuery = true;
        s = s.substr(0, q);
    }
    if (s.substr(0, 2) == "//") {
        s.remove_prefix(2);
        std::size_t slash = s.find('/');
        p.authority = s.substr(0, slash);
        p.hasAuthority = true;
        s = slash == std::string_view::npos ? std::string_view() : s.substr(slash);
    }
    p.path = s;
    return p;
}

// RFC 3986, section 5.2.4.
std::string RemoveDotSegments(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    while (!in.empty()) {
        if (in.substr(0, 3) == "../") {
            in.remove_prefix(3);
        } else if (in.substr(0, 2) == "./") {
            in.remove_prefix(2);
        } else if (in.substr(0, 3) == "/./") {
            in.remove_prefix(2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.substr(0, 4) == "/../" || in == "/..") {
            in = in.size() == 3 ? std::string_view("/") : in.substr(3);
            std::size_t last = out.rfind('/');
            out.resize(last == std::string::npos ? 0 : last);
        } else if (in == "." || in == "..") {
            in = {};
        } else {
            std::size_t start = in.front() == '/' ? 1 : 0;
            std::size_t next = in.find('/', start);
            if (next == std::string_view::npos)
                next = in.size();
            out.append(in.substr(0, next));
            in.remove_prefix(next);
        }
    }
    return out;
}

} // namespace

std::string CombineUrl(std::string_view base, std::string_view relative) {
    UrlParts r = ParseUrl(relative);
    UrlParts b = ParseUrl(base);
    std::string path;
    std::string_view scheme, authority, query;
    bool hasAuthority = false, hasQuery = false;
    if (r.hasScheme) {
        scheme = r.scheme;
        authority = r.authority;
        hasAuthority = r.hasAuthority;
        path = RemoveDotSegments(r.path);
        query = r.query;
        hasQuery = r.hasQuery;
    } else {
        if (!b.hasScheme)
            return {};
        scheme = b.scheme;
        if (r.hasAuthority) {
            authority = r.authority;
            hasAuthority = true;
            path = RemoveDotSegments(r.path);
            query = r.query;
            hasQuery = r.hasQuery;
        } else {
            authority = b.authority;
            hasAuthority = b.hasAuthority;
            if (r.path.empty()) {
                path = std::string(b.path);
                query = r.hasQuery ? r.query : b.query;
                hasQuery = r.hasQuery || b.hasQuery;
            } else {
                if (r.path.front() == '/') {
                    path = RemoveDotSegments(r.path);
                } else {
                    std::string merged;
                    if (b.hasAuthority && b.path.empty()) {
                        merged = "/";
                    } else {
                        std::size_t last = b.path.rfind('/');
                        if (last != std::string_view::npos)
                            merged = std::string(b.path.substr(0, last + 1));
                    }
                    merged.append(r.path);
                    path = RemoveDotSegments(merged);
                }
                query = r.query;
                hasQuery = r.hasQuery;
            }
        }
    }
    std::string out(scheme);
    out += ':';
    if (hasAuthority) {
        out += "//";
        out.append(authority);
    }
    out += path;
    if (hasQuery) {
        out += '?';
        out.append(query);
    }
    if (r.hasFragment) {
        out += '#';
        out.append(r.fragment);
    }
    return out;
}

} // namespace tarnhold
