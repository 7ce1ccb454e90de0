#pragma once

#include <QByteArray>
#include <QString>

enum class ScrambleDirection
{
    Encode,
    Decode
};

// Reverses the bytes and XORs each with twice its one-based position.
QByteArray scrambleBytes(const QByteArray &bytes, ScrambleDirection direction);
// The same on the UTF-8 form of a text. Only safe for ASCII texts of up to 63
// characters; longer or non-ASCII texts go through scrambleBytes.
QString scrambleText(const QString &text, ScrambleDirection direction);
