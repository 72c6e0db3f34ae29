#include "workspace/transfer/http_socket_errors.h"

#include <cerrno>

namespace quill {

namespace {

struct SocketError {
    int code;
    int error;  // the errno it stands for here, 0 when none
    const char* text;
};

constexpr SocketError kSocketErrors[] = {
    {10004, EINTR, "Interrupted system call."},
    {10009, EBADF, "Bad file number."},
    {10013, EACCES, "Access denied."},
    {10014, EFAULT, "Bad address."},
    {10022, EINVAL, "Invalid argument."},
    {10024, EMFILE, "Too many open files."},
    {10035, EWOULDBLOCK, "Operation would block."},
    {10036, EINPROGRESS, "Operation now in progress."},
    {10037, EALREADY, "Operation already in progress."},
    {10038, ENOTSOCK, "Socket operation on non-socket."},
    {10039, EDESTADDRREQ, "Destination address required."},
    {10040, EMSGSIZE, "Message too long."},
    {10041, EPROTOTYPE, "Protocol wrong type for socket."},
    {10042, ENOPROTOOPT, "Bad protocol option."},
    {10043, EPROTONOSUPPORT, "Protocol not supported."},
    {10044, ESOCKTNOSUPPORT, "Socket type not supported."},
    {10045, EOPNOTSUPP, "Operation not supported on socket."},
    {10046, EPFNOSUPPORT, "Protocol family not supported."},
    {10047, EAFNOSUPPORT, "Address family not supported by protocol family."},
    {10048, EADDRINUSE, "Address already in use."},
    {10049, EADDRNOTAVAIL, "Cannot assign requested address."},
    {10050, ENETDOWN, "Network is down."},
    {10051, ENETUNREACH, "Network is unreachable."},
    {10052, ENETRESET, "Net dropped connection or reset."},
    {10053, ECONNABORTED, "Software caused connection abort."},
    {10054, ECONNRESET, "Connection reset by peer."},
    {10055, ENOBUFS, "No buffer space available."},
    {10056, EISCONN, "Socket is already connected."},
    {10057, ENOTCONN, "Socket is not connected."},
    {10058, ESHUTDOWN, "Cannot send or receive after socket is closed."},
    {10059, ETOOMANYREFS, "Too many references, cannot splice."},
    {10060, ETIMEDOUT, "Connection timed out."},
    {10061, ECONNREFUSED, "Connection refused."},
    {10062, ELOOP, "Too many levels of symbolic links."},
    {10063, ENAMETOOLONG, "File name too long."},
    {10064, EHOSTDOWN, "Host is down."},
    {10065, EHOSTUNREACH, "No route to host."},
    {10066, ENOTEMPTY, "Directory not empty."},
    {11001, 0, "Host not found."},
};

}  // namespace

std::string socketErrorText(int wsaCode) {
    std::string text = "Socket Error # " + std::to_string(wsaCode) + "\r\n";
    for (const auto& e : kSocketErrors)
        if (e.code == wsaCode) return text + e.text;
    return text;
}

int wsaCodeForErrno(int error) {
    if (error == EPIPE) return 10053;  // a write to a connection the peer has dropped
    for (const auto& e : kSocketErrors)
        if (e.error != 0 && e.error == error) return e.code;
    return 0;
}

}  // namespace quill
