#include "TlsProbe.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

int Left(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// A connected non-blocking socket, or -1.
int Connect(const QByteArray& host, int port, Clock::time_point deadline)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.constData(), QByteArray::number(port).constData(), &hints, &found) != 0)
        return -1;
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);
    for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
        const int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                at->ai_protocol);
        if (fd < 0)
            continue;
        if (::connect(fd, at->ai_addr, at->ai_addrlen) == 0)
            return fd;
        if (errno == EINPROGRESS) {
            pollfd done{fd, POLLOUT, 0};
            int error = 0;
            socklen_t length = sizeof error;
            if (::poll(&done, 1, Left(deadline)) > 0 &&
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
                return fd;
        }
        ::close(fd);
    }
    return -1;
}

} // namespace

TTlsProblem ProbeTls(const QByteArray& host, int port, const QByteArray& caFile,
                     const QByteArray& caPath, std::chrono::milliseconds bound)
{
    const auto deadline = Clock::now() + bound;
    const std::unique_ptr<SSL_CTX, decltype(&::SSL_CTX_free)> context(
        SSL_CTX_new(TLS_client_method()), ::SSL_CTX_free);
    if (!context)
        return TTlsProblem::Other;
    if (SSL_CTX_load_verify_locations(context.get(),
                                      caFile.isEmpty() ? nullptr : caFile.constData(),
                                      caFile.isEmpty() ? caPath.constData() : nullptr) != 1) {
        ERR_clear_error();
        return TTlsProblem::NoAuthority;
    }
    // The handshake goes through whatever the certificate: its verdict is read after.
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
    const int fd = Connect(host, port, deadline);
    if (fd < 0)
        return TTlsProblem::Unreachable;
    const std::unique_ptr<SSL, decltype(&::SSL_free)> ssl(SSL_new(context.get()), ::SSL_free);
    if (!ssl || SSL_set_fd(ssl.get(), fd) != 1 ||
        SSL_set_tlsext_host_name(ssl.get(), host.constData()) != 1 ||
        SSL_set1_host(ssl.get(), host.constData()) != 1) {
        ERR_clear_error();
        ::close(fd);
        return TTlsProblem::Other;
    }
    TTlsProblem problem = TTlsProblem::NotTls;
    for (;;) {
        const int result = SSL_connect(ssl.get());
        if (result == 1) {
            switch (SSL_get_verify_result(ssl.get())) {
            case X509_V_OK:
                problem = TTlsProblem::None;
                break;
            case X509_V_ERR_HOSTNAME_MISMATCH:
            case X509_V_ERR_IP_ADDRESS_MISMATCH:
                problem = TTlsProblem::OtherName;
                break;
            case X509_V_ERR_CERT_HAS_EXPIRED:
            case X509_V_ERR_CERT_NOT_YET_VALID:
                problem = TTlsProblem::OutOfDate;
                break;
            case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
            case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
            case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
            case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
                problem = TTlsProblem::Untrusted;
                break;
            default:
                problem = TTlsProblem::Other;
                break;
            }
            // A courtesy to the server: the probe has its answer whatever the close gives.
            (void)SSL_shutdown(ssl.get());
            break;
        }
        const int wanted = SSL_get_error(ssl.get(), result);
        if (wanted != SSL_ERROR_WANT_READ && wanted != SSL_ERROR_WANT_WRITE)
            break; // no TLS on the other side
        pollfd ready{fd, static_cast<short>(wanted == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
        if (::poll(&ready, 1, Left(deadline)) <= 0) {
            problem = TTlsProblem::NotTls; // it never answered the hello
            break;
        }
    }
    ERR_clear_error();
    ::close(fd);
    return problem;
}

QString TlsProblemText(TTlsProblem problem, const QString& address, const QString& caFile,
                       const QString& caPath)
{
    switch (problem) {
    case TTlsProblem::NotTls:
        return QStringLiteral("El servidor MQTT %1 no habla TLS en ese puerto. Compruebe el puerto "
                              "(el seguro suele ser el 8883) o use mqtt:// si la red es de "
                              "confianza.")
            .arg(address);
    case TTlsProblem::NoAuthority:
        if (!caFile.isEmpty())
            return QStringLiteral("La autoridad de certificación %1 (cafile del archivo de "
                                  "configuración) no contiene ningún certificado que se pueda "
                                  "leer. Compruebe que es el certificado de la autoridad, en "
                                  "formato PEM.")
                .arg(caFile);
        return QStringLiteral("No se pueden leer las autoridades de certificación del sistema en "
                              "%1. Instale el paquete ca-certificates.")
            .arg(caPath);
    case TTlsProblem::Untrusted:
        return QStringLiteral("El certificado del servidor MQTT %1 no lo firma ninguna autoridad "
                              "de confianza. Si lo firma la autoridad del centro, indíquela con "
                              "cafile = RUTA en la sección [outputs] del archivo de "
                              "configuración.")
            .arg(address);
    case TTlsProblem::OtherName:
        return QStringLiteral("El certificado del servidor MQTT %1 es para otro nombre. Escriba "
                              "en la dirección el nombre que dice su certificado.")
            .arg(address);
    case TTlsProblem::OutOfDate:
        return QStringLiteral("El certificado del servidor MQTT %1 ha caducado o aún no es "
                              "válido. Compruebe la fecha del equipo y renueve el certificado.")
            .arg(address);
    default:
        return QStringLiteral("No se puede establecer una conexión segura con el servidor MQTT "
                              "%1. Compruebe que ese puerto habla TLS y que el certificado del "
                              "servidor es para ese nombre y lo firma una autoridad de "
                              "confianza.")
            .arg(address);
    }
}
