#include "testtable.h"

#include <QFile>
#include <QList>
#include <QTest>
#include <QVariant>

static QByteArray expand(const QByteArray &text, const QHash<QByteArray, QByteArray> &values)
{
    const QByteArrayList pieces = text.split('{'); // after the first: name}text
    QByteArray out = QByteArray::fromPercentEncoding(pieces[0], '\\');
    for (const QByteArray &piece : pieces.mid(1)) {
        const QByteArray name = piece.left(piece.indexOf('}'));
        const qsizetype star = name.indexOf('*');
        if (star < 0 && !values.contains(name))
            qFatal("no value for {%s} in %s", name.constData(), text.constData());
        out += star < 0 ? values[name] : name.mid(star + 1).repeated(name.left(star).toInt());
        out += QByteArray::fromPercentEncoding(piece.mid(name.size() + 1), '\\');
    }
    return out;
}

static QVariant tableValue(const QByteArray &type, const QByteArray &text)
{
    QList<qint32> numbers;
    for (const QByteArray &n : text.split(' '))
        numbers << (n.isEmpty() ? 0 : n.toInt());
    QVariant v = type == "QStringList" ? QVariant(QString::fromUtf8(text).split(u'|')) : QVariant(text.isEmpty() ? QByteArray() : text); // empty: null
    v = type == "QList<qint32>" ? QVariant::fromValue(text.isEmpty() ? QList<qint32>() : numbers) : v;
    if (!v.convert(type == "QList<qint32>" ? v.metaType() : QMetaType::fromName(type)))
        qFatal("cannot read \"%s\" as %s", text.constData(), type.constData());
    return v;
}

// A column of one of the types a table names; a name the table keeps.
static void addColumn(const QByteArray &type, const char *name)
{
    if (type == "int")
        QTest::addColumn<int>(name);
    else if (type == "bool")
        QTest::addColumn<bool>(name);
    else if (type == "QString")
        QTest::addColumn<QString>(name);
    else if (type == "QByteArray")
        QTest::addColumn<QByteArray>(name);
    else if (type == "QStringList")
        QTest::addColumn<QStringList>(name);
    else if (type == "QList<qint32>")
        QTest::addColumn<QList<qint32>>(name);
    else
        qFatal("a table column of type %s, which no table reads", type.constData());
}

void TestTable::load(const char *path, QHash<QByteArray, QByteArray> values)
{
    QFile file(QString::fromUtf8(path));
    const QByteArray all = file.open(QIODevice::ReadOnly) ? file.readAll() : (qFatal("cannot read %s", path), QByteArray());
    static QByteArrayList names; // the test table keeps pointers to them
    QByteArrayList types;
    for (const QByteArray &line : all.split('\n')) {
        const QByteArrayList fields = line.split('\t');
        if (line.startsWith('@')) {
            values.insert(fields[0].mid(1), expand(fields.value(1), values));
        } else if (line.isEmpty() || line.startsWith('#')) {
        } else if (types.isEmpty()) {
            for (const QByteArray &column : fields.mid(1)) {
                types << column.left(column.lastIndexOf(' '));
                names << column.mid(column.lastIndexOf(' ') + 1);
                addColumn(types.last(), names.last().constData());
            }
        } else {
            if (fields.size() != types.size() + 1)
                qFatal("%s: %d fields, expected %d: %s", path, int(fields.size()), int(types.size() + 1), line.constData());
            QTestData &row = QTest::newRow(fields[0].constData());
            for (qsizetype i = 0; i < types.size(); ++i) {
                const QVariant v = tableValue(types[i], expand(fields[i + 1], values));
                row.append(v.metaType().id(), v.constData());
            }
        }
    }
}
