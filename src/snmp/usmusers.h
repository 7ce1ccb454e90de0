#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Protocol numbers as they are stored in usm_users.bin (the classic SNMP++ numbering,
// extended by the RFC 7860 SHA-2 digests that this net-snmp build supports).
enum class UsmAuthProtocol : quint8
{
    None = 1,
    HmacMd5 = 2,
    HmacSha = 3,
    HmacSha224 = 4,
    HmacSha256 = 5,
    HmacSha384 = 6,
    HmacSha512 = 7
};

enum class UsmPrivProtocol : quint8
{
    None = 1,
    Des = 2,
    Aes128 = 4,
    Aes192 = 20,
    Aes256 = 21
};

bool isKnownAuthProtocol(int value);
bool isKnownPrivProtocol(int value);

struct UsmUser
{
    QString name;
    UsmAuthProtocol authProtocol = UsmAuthProtocol::None;
    QString authPassword;
    UsmPrivProtocol privProtocol = UsmPrivProtocol::None;
    QString privPassword;

    bool operator==(const UsmUser &o) const
    {
        return name == o.name && authProtocol == o.authProtocol && authPassword == o.authPassword &&
               privProtocol == o.privProtocol && privPassword == o.privPassword;
    }
    bool operator!=(const UsmUser &o) const { return !(*this == o); }
};

// The SNMPv3 users the application knows, in table order. Every operation runs under
// the table's lock; the change handler is called after the lock is released, so it may
// take other locks (the SNMP layer drops the keys it localized for that user).
class UsmUserTable
{
public:
    struct LoadResult
    {
        bool fileFound = false;
        int loaded = 0;
        // Records skipped or lost to a bad header, a bad protocol number or a truncated file.
        bool damaged = false;
    };

    QList<UsmUser> users() const;
    QStringList userNames() const;
    std::optional<UsmUser> user(const QString &name) const;
    int count() const;
    // A user of the same name is replaced in place; a new one goes to the end.
    void addUser(const UsmUser &user);
    // Returns false when no user has that name.
    bool deleteUser(const QString &name);
    void clear();

    // Replaces the table by the users of the file; a damaged file yields what it holds intact.
    LoadResult load(const QString &path);
    // Writes the whole table atomically, permissions 0600.
    bool save(const QString &path) const;

    // Called with the name of each user that was added, changed or deleted.
    void setChangeHandler(std::function<void(const QString &name)> handler);

    static QByteArray encode(const QList<UsmUser> &users);
    static QList<UsmUser> decode(const QByteArray &data, bool *damaged = nullptr);

private:
    void notify(const QStringList &names) const;

    mutable QMutex m_mutex;
    QList<UsmUser> m_users;
    std::function<void(const QString &)> m_changed;
};

QString usmUsersFilePath();
