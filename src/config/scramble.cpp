#include "scramble.h"

namespace {
char mask(int position)
{
    return static_cast<char>((2 * position) & 0xff);
}
} // namespace

QByteArray scrambleBytes(const QByteArray &bytes, ScrambleDirection direction)
{
    const int n = bytes.size();
    QByteArray out(n, '\0');
    for (int p = 0; p < n; ++p) {
        // Encoding combines with the input position, decoding with the position the
        // byte had before it was reversed; both use the one-based count.
        const int position = direction == ScrambleDirection::Encode ? p + 1 : n - p;
        out[n - 1 - p] = static_cast<char>(bytes.at(p) ^ mask(position));
    }
    return out;
}

QString scrambleText(const QString &text, ScrambleDirection direction)
{
    return QString::fromUtf8(scrambleBytes(text.toUtf8(), direction));
}
