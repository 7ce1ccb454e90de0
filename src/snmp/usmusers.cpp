#include "usmusers.h"

#include "config/datadir.h"
#include "config/privatefile.h"

#include <QFile>
#include <QHash>
#include <algorithm>

// usm_users.bin:
//   8 bytes  magic "VGUSM\0\0\1" (the last byte is the format version)
//   records until the end of the file, each:
//     1 byte   authentication protocol (UsmAuthProtocol)
//     1 byte   privacy protocol (UsmPrivProtocol)
//     3 fields name, authentication password, privacy password, each a 2-byte
//              big-endian length followed by that many UTF-8 bytes
// A record with an unknown protocol or an empty name is skipped; a truncated record
// ends the file.

namespace {
const QByteArray magic("VGUSM\0\0\1", 8);
constexpr int maxFieldLength = 0xffff;

bool readField(const QByteArray &data, int &pos, QString &out)
{
    if (pos + 2 > data.size())
        return false;
    const int len = (static_cast<quint8>(data[pos]) << 8) | static_cast<quint8>(data[pos + 1]);
    pos += 2;
    if (pos + len > data.size())
        return false;
    out = QString::fromUtf8(data.constData() + pos, len);
    pos += len;
    return true;
}

void writeField(QByteArray &out, const QString &text)
{
    QByteArray bytes = text.toUtf8().left(maxFieldLength);
    out.append(static_cast<char>(bytes.size() >> 8));
    out.append(static_cast<char>(bytes.size() & 0xff));
    out.append(bytes);
}
} // namespace

bool isKnownAuthProtocol(int value)
{
    return value >= static_cast<int>(UsmAuthProtocol::None) && value <= static_cast<int>(UsmAuthProtocol::HmacSha512);
}

bool isKnownPrivProtocol(int value)
{
    switch (static_cast<UsmPrivProtocol>(value)) {
    case UsmPrivProtocol::None:
    case UsmPrivProtocol::Des:
    case UsmPrivProtocol::Aes128:
    case UsmPrivProtocol::Aes192:
    case UsmPrivProtocol::Aes256:
        return true;
    }
    return false;
}

QList<UsmUser> UsmUserTable::users() const
{
    QMutexLocker locker(&m_mutex);
    return m_users;
}

QStringList UsmUserTable::userNames() const
{
    QMutexLocker locker(&m_mutex);
    QStringList names;
    for (const UsmUser &u : m_users)
        names.append(u.name);
    return names;
}

std::optional<UsmUser> UsmUserTable::user(const QString &name) const
{
    QMutexLocker locker(&m_mutex);
    for (const UsmUser &u : m_users) {
        if (u.name == name)
            return u;
    }
    return std::nullopt;
}

int UsmUserTable::count() const
{
    QMutexLocker locker(&m_mutex);
    return m_users.size();
}

void UsmUserTable::addUser(const UsmUser &user)
{
    {
        QMutexLocker locker(&m_mutex);
        auto it = std::find_if(m_users.begin(), m_users.end(), [&](const UsmUser &u) { return u.name == user.name; });
        if (it == m_users.end())
            m_users.append(user);
        else if (*it == user)
            return;
        else
            *it = user;
    }
    notify({user.name});
}

bool UsmUserTable::deleteUser(const QString &name)
{
    {
        QMutexLocker locker(&m_mutex);
        const auto removed = m_users.removeIf([&](const UsmUser &u) { return u.name == name; });
        if (removed == 0)
            return false;
    }
    notify({name});
    return true;
}

void UsmUserTable::clear()
{
    QStringList names;
    {
        QMutexLocker locker(&m_mutex);
        for (const UsmUser &u : m_users)
            names.append(u.name);
        m_users.clear();
    }
    notify(names);
}

QByteArray UsmUserTable::encode(const QList<UsmUser> &users)
{
    QByteArray out = magic;
    for (const UsmUser &u : users) {
        out.append(static_cast<char>(u.authProtocol));
        out.append(static_cast<char>(u.privProtocol));
        writeField(out, u.name);
        writeField(out, u.authPassword);
        writeField(out, u.privPassword);
    }
    return out;
}

QList<UsmUser> UsmUserTable::decode(const QByteArray &data, bool *damaged)
{
    QList<UsmUser> users;
    // Where each name is in users: a later record of a name replaces the earlier one,
    // in linear time however many users the file holds.
    QHash<QString, qsizetype> position;
    bool bad = false;
    if (!data.startsWith(magic)) {
        if (damaged)
            *damaged = !data.isEmpty();
        return users;
    }
    int pos = magic.size();
    while (pos < data.size()) {
        if (pos + 2 > data.size()) {
            bad = true;
            break;
        }
        const int auth = static_cast<quint8>(data[pos]);
        const int priv = static_cast<quint8>(data[pos + 1]);
        pos += 2;
        UsmUser u;
        if (!readField(data, pos, u.name) || !readField(data, pos, u.authPassword) ||
            !readField(data, pos, u.privPassword)) {
            bad = true;
            break;
        }
        if (!isKnownAuthProtocol(auth) || !isKnownPrivProtocol(priv) || u.name.isEmpty()) {
            bad = true;
            continue;
        }
        u.authProtocol = static_cast<UsmAuthProtocol>(auth);
        u.privProtocol = static_cast<UsmPrivProtocol>(priv);
        const auto earlier = position.constFind(u.name);
        if (earlier != position.constEnd())
            users[*earlier].name.clear();
        position.insert(u.name, users.size());
        users.append(u);
    }
    users.removeIf([](const UsmUser &o) { return o.name.isEmpty(); });
    if (damaged)
        *damaged = bad;
    return users;
}

UsmUserTable::LoadResult UsmUserTable::load(const QString &path)
{
    LoadResult result;
    QFile f(path);
    QList<UsmUser> loaded;
    if (f.open(QIODevice::ReadOnly)) {
        result.fileFound = true;
        // A sane user file is a few kilobytes; more is not ours.
        loaded = decode(f.read(16 * 1024 * 1024), &result.damaged);
    }
    result.loaded = loaded.size();
    QStringList names;
    {
        QMutexLocker locker(&m_mutex);
        for (const UsmUser &u : m_users)
            names.append(u.name);
        for (const UsmUser &u : loaded)
            names.append(u.name);
        m_users = loaded;
    }
    names.removeDuplicates();
    notify(names);
    return result;
}

bool UsmUserTable::save(const QString &path) const
{
    const QByteArray data = encode(users());
    return writePrivateFile(path, data);
}

void UsmUserTable::setChangeHandler(std::function<void(const QString &)> handler)
{
    QMutexLocker locker(&m_mutex);
    m_changed = std::move(handler);
}

void UsmUserTable::notify(const QStringList &names) const
{
    std::function<void(const QString &)> handler;
    {
        QMutexLocker locker(&m_mutex);
        handler = m_changed;
    }
    if (!handler)
        return;
    for (const QString &n : names)
        handler(n);
}

QString usmUsersFilePath()
{
    return configFilePath(QStringLiteral("usm_users.bin"));
}
