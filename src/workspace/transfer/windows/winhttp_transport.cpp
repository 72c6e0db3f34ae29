// The transport on Windows: WinHTTP, the system's own stack, with the
// system's proxy settings and TLS verified against the Windows certificate
// store. It follows no redirect itself; the request loop above does.
#include "workspace/transfer/http_transport.h"

#include "platform/windows/wide.h"

#include <atomic>
#include <chrono>
#include <new>
#include <string>
#include <vector>

#include <windows.h>
#include <shlwapi.h>
#include <wincrypt.h>
#include <winhttp.h>

namespace quill {

namespace {

using platform::windows::fromWide;
using platform::windows::toWide;
using Clock = std::chrono::steady_clock;

constexpr const wchar_t* kAgent = L"Mozilla/4.0 (compatible; Indy Library)";
constexpr const wchar_t* kHeaders = L"Accept: text/html, */*,*.zip\r\nAccept-Encoding: identity";
constexpr DWORD kReceiveBuffer = 512 * 1024;
// A blocked read comes back at least this often, so an interrupt or a stall
// is noticed within it even where closing the handle does not end the read.
constexpr DWORD kReadTick = 250;

struct Handle {
    HINTERNET h = nullptr;
    Handle() = default;
    explicit Handle(HINTERNET handle) : h(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    void reset(HINTERNET handle = nullptr) {
        if (h) WinHttpCloseHandle(h);
        h = handle;
    }
};

// The stack's own words for an error of its own, as a failure's text.
std::string winhttpText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                            FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        GetModuleHandleW(L"winhttp.dll"), error, 0,
                                        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result;
    if (length && text) {
        result = fromWide(std::wstring_view(text, length));
        while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
            result.pop_back();
    }
    if (text) LocalFree(text);
    return result.empty() ? "WinHTTP error " + std::to_string(error) : result;
}

class WinHttpTransport final : public HttpTransport {
public:
    WinHttpTransport() {
        // The system's proxy settings, automatic ones where the system has them.
        session_.reset(WinHttpOpen(kAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                   WINHTTP_NO_PROXY_BYPASS, 0));
        if (!session_.h)
            session_.reset(WinHttpOpen(kAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
        if (!session_.h) throw std::bad_alloc();
        DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        WinHttpSetOption(session_.h, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
        DWORD tls = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        WinHttpSetOption(session_.h, WINHTTP_OPTION_SECURE_PROTOCOLS, &tls, sizeof tls);
    }

    TransportEnding exchange(const std::string& url, Receiver& receiver) override {
        using Kind = TransportEnding::Kind;
        TransportEnding ending;
        const std::wstring wide = toWide(url);
        URL_COMPONENTS parts{};
        parts.dwStructSize = sizeof parts;
        parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = DWORD(-1);
        if (!WinHttpCrackUrl(wide.c_str(), 0, 0, &parts)) return failure(GetLastError(), false);
        const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
        std::wstring target(parts.lpszUrlPath, parts.dwUrlPathLength);
        target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
        if (target.empty()) target = L"/";
        const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
        if (!connect_.h || host != host_ || parts.nPort != port_) {
            connect_.reset(WinHttpConnect(session_.h, host.c_str(), parts.nPort, 0));
            if (!connect_.h) return failure(GetLastError(), false);
            host_ = host;
            port_ = parts.nPort;
        }
        Handle request(WinHttpOpenRequest(connect_.h, L"GET", target.c_str(), nullptr, WINHTTP_NO_REFERER,
                                          WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
        if (!request.h) return failure(GetLastError(), false);
        DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
        WinHttpSetOption(request.h, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
        const int stallMs = stallSeconds_ * 1000;
        // Connecting and sending are bounded by the stall rule; the head by it too.
        WinHttpSetTimeouts(request.h, stallMs, stallMs, stallMs, stallMs);
        // Host first, as the server sees it from every other client of ours; the stack would add it last.
        std::wstring headers = L"Host: " + host;
        if (parts.nPort != (secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT))
            headers += L":" + std::to_wstring(parts.nPort);
        headers += L"\r\n";
        headers += kHeaders;
        if (!WinHttpAddRequestHeaders(request.h, headers.c_str(), DWORD(-1),
                                      WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
            return failure(GetLastError(), false);
        if (interrupted_) return stopped();
        if (!WinHttpSendRequest(request.h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
            !WinHttpReceiveResponse(request.h, nullptr))
            return failure(GetLastError(), false);
        if (interrupted_) return stopped();

        DWORD size = 0;
        WinHttpQueryHeaders(request.h, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                            WINHTTP_NO_HEADER_INDEX);
        std::wstring raw(size / sizeof(wchar_t) + 1, L'\0');
        if (!WinHttpQueryHeaders(request.h, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, raw.data(),
                                 &size, WINHTTP_NO_HEADER_INDEX))
            return failure(GetLastError(), false);
        raw.resize(size / sizeof(wchar_t));
        bool whole = true;
        if (!handHead(raw, receiver, whole)) return stopped();
        if (!whole) {
            ending.kind = Kind::Closed;
            return ending;
        }

        // The body: reads that come back every tick, so an interrupt is seen
        // at once and a stall is timed here rather than by the stack.
        DWORD tick = kReadTick;
        WinHttpSetOption(request.h, WINHTTP_OPTION_RECEIVE_TIMEOUT, &tick, sizeof tick);
        std::vector<char> buffer(kReceiveBuffer);
        Clock::time_point lastByte = Clock::now();
        for (;;) {
            if (interrupted_) return stopped();
            DWORD got = 0;
            if (!WinHttpReadData(request.h, buffer.data(), static_cast<DWORD>(buffer.size()), &got)) {
                const DWORD error = GetLastError();
                // Wine gives the socket's own code for a read that timed out.
                if (error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT) {
                    if (Clock::now() - lastByte < std::chrono::seconds(stallSeconds_)) continue;
                    ending.kind = Kind::SocketError;
                    ending.code = 10060;
                    return ending;
                }
                return failure(error, true);
            }
            if (got == 0) return ending;
            lastByte = Clock::now();
            if (!receiver.body(buffer.data(), got)) return stopped();
        }
    }

    void interrupt() override { interrupted_ = true; }
    void clearInterrupt() override { interrupted_ = false; }
    void setStallTimeout(int seconds) override { stallSeconds_ = seconds; }

    void trustOnlyForTests(const std::string& certificatesPem) override {
        // WinHTTP verifies against the store alone: the test authority joins
        // the current user's roots, which under Wine is the test prefix's own.
        HCERTSTORE roots = CertOpenSystemStoreW(0, L"ROOT");
        if (!roots) return;
        std::size_t at = 0;
        const std::string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
        while ((at = certificatesPem.find(begin, at)) != std::string::npos) {
            const std::size_t stop = certificatesPem.find(end, at);
            if (stop == std::string::npos) break;
            const std::string pem = certificatesPem.substr(at, stop + end.size() - at);
            DWORD size = 0;
            if (CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                     &size, nullptr, nullptr)) {
                std::vector<BYTE> der(size);
                if (CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                         der.data(), &size, nullptr, nullptr))
                    CertAddEncodedCertificateToStore(roots, X509_ASN_ENCODING, der.data(), size,
                                                     CERT_STORE_ADD_USE_EXISTING, nullptr);
            }
            at = stop;
        }
        CertCloseStore(roots, 0);
    }

    std::string resolve(const std::string& base, const std::string& location) override {
        const std::wstring wideBase = toWide(base), wideLocation = toWide(location);
        DWORD size = 1;
        wchar_t probe[1];
        if (UrlCombineW(wideBase.c_str(), wideLocation.c_str(), probe, &size, 0) != E_POINTER) return location;
        std::wstring combined(size, L'\0');
        if (FAILED(UrlCombineW(wideBase.c_str(), wideLocation.c_str(), combined.data(), &size, 0))) return location;
        combined.resize(size);
        return fromWide(combined);
    }

private:
    // Hands the head line by line, as it came, the blank line that ends it
    // last. The stack keeps that blank line of a whole head; a head the
    // server broke off comes without it, and whole is false.
    static bool handHead(const std::wstring& raw, Receiver& receiver, bool& whole) {
        std::string head;
        head.reserve(raw.size());
        for (wchar_t c : raw) head += c < 0x100 ? static_cast<char>(c) : '?';
        whole = head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0;
        std::size_t start = 0;
        while (start < head.size()) {
            std::size_t end = head.find("\r\n", start);
            end = end == std::string::npos ? head.size() : end + 2;
            if (!receiver.headerLine(head.data() + start, end - start)) return false;
            start = end;
        }
        return true;
    }

    static TransportEnding stopped() {
        TransportEnding ending;
        ending.kind = TransportEnding::Kind::Stopped;
        return ending;
    }

    TransportEnding failure(DWORD error, bool whileReading) {
        using Kind = TransportEnding::Kind;
        TransportEnding ending;
        ending.whileReading = whileReading;
        if (interrupted_) return stopped();
        switch (error) {
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
            ending.kind = Kind::SocketError;
            ending.code = 11001;
            return ending;
        case ERROR_WINHTTP_CANNOT_CONNECT:
            ending.kind = Kind::SocketError;
            ending.code = 10061;
            return ending;
        case ERROR_WINHTTP_TIMEOUT:
        case WSAETIMEDOUT:
            ending.kind = Kind::SocketError;
            ending.code = 10060;
            return ending;
        case ERROR_WINHTTP_CONNECTION_ERROR:
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
            // The peer closed, or sent no whole head before it did.
            ending.kind = Kind::Closed;
            return ending;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            ending.kind = Kind::OutOfMemory;
            return ending;
        default:
            ending.kind = Kind::Failed;
            ending.text = winhttpText(error);
            return ending;
        }
    }

    Handle session_;
    Handle connect_;  // kept while the host stays the same, so its connection is reused
    std::wstring host_;
    INTERNET_PORT port_ = 0;
    int stallSeconds_ = 60;
    std::atomic<bool> interrupted_{false};
};

}  // namespace

std::unique_ptr<HttpTransport> makeHttpTransport() { return std::make_unique<WinHttpTransport>(); }

}  // namespace quill
