#pragma once

#include <QNetworkRequest>
#include <QString>

class QNetworkReply;
class QUrl;

// What every request of the program to a catalogue server shares: the authorities trusted, how
// long a transfer may stand still, how much it may bring, and what a failure is called.

// Milliseconds a transfer may go without a byte before it is given up: 15 s, or
// ORVILOOP_NETWORK_TIMEOUT_MS.
int networkTimeoutMs();

// The system's certificate authorities plus those in ORVILOOP_CATALOGUE_CA, the transfer timeout,
// and redirects followed only to addresses as safe as the one asked for.
QNetworkRequest catalogueRequest(const QUrl &url);

// Aborts the reply as soon as the announced or received size passes maxBytes, before it is all in
// memory; networkFailureText then says it was too large.
void capReplySize(QNetworkReply *reply, qint64 maxBytes);

// Whether a finished reply failed or brought more than capReplySize allowed.
bool replyFailed(const QNetworkReply *reply);

// Why a finished reply failed, in words for the learner, with Qt's own error string after it.
QString networkFailureText(const QNetworkReply *reply);
