#pragma once
// Why a TLS connection to a server failed, found by a handshake of our own after libmosquitto's
// failed (the library only says that the handshake failed): a server that does not speak TLS, a
// certificate that no trusted authority signs, one for another name, one out of date.

#include <QByteArray>
#include <QString>

#include <chrono>

enum class TTlsProblem
{
    None,        // the handshake and the certificate are good: the cause lies elsewhere
    Unreachable, // no connection to probe with
    NoAuthority, // the authorities to trust could not be read (a file that holds none)
    NotTls,      // the server answers, but not with TLS
    Untrusted,   // no trusted authority signs the certificate
    OtherName,   // the certificate is for another name
    OutOfDate,   // expired, or not valid yet
    Other        // the certificate is refused for another reason
};

// Connects to `host`:`port` and shakes hands as a client that trusts the authorities in
// `caFile` (empty: the system's in `caPath`) and expects the certificate to be for `host`.
// Gives up after `bound`.
TTlsProblem ProbeTls(const QByteArray& host, int port, const QByteArray& caFile,
                     const QByteArray& caPath, std::chrono::milliseconds bound);

// What a user reads for a problem the probe found with the server at `address` ("host:port"),
// trusting `caFile` (empty: the system's authorities in `caPath`): the cause and the remedy, in
// Spanish. A problem that is none, or that is unreachable, is read as an unknown failure.
QString TlsProblemText(TTlsProblem problem, const QString& address, const QString& caFile,
                       const QString& caPath);
