#pragma once
// A JSON value checked against a JSON Schema (draft 2020-12) written in a small subset: type
// (a name or a list of names), required, properties, items, enum, const, $defs with local $ref
// ("#/$defs/name"), oneOf, and the annotations $schema, $id, title and description. A keyword
// outside the subset is named by UnknownKeywords, so that a schema never asks for a check this
// validator would pass over. Pure: any thread.

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>
#include <QString>
#include <QStringList>
#include <cmath>

class TJsonSchemaCheck {
public:
    explicit TJsonSchemaCheck(const QJsonObject& root) : Root_(root) {}
    // The schema of a file; Loaded() false when it cannot be read or is no JSON object.
    static TJsonSchemaCheck FromFile(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return TJsonSchemaCheck(QJsonObject());
        return TJsonSchemaCheck(QJsonDocument::fromJson(file.readAll()).object());
    }
    bool Loaded() const { return !Root_.isEmpty(); }

    // What in `value` does not fit the schema at `pointer` ("#" the root, "#/$defs/read"), one
    // text per fault with the path of the value ("/parameters/3/value"); empty when it fits.
    QStringList Check(const QJsonValue& value, const QString& pointer = QStringLiteral("#")) const {
        QStringList faults;
        const QJsonValue schema = Resolve(pointer);
        if (!schema.isObject())
            return {QStringLiteral("no schema at ") + pointer};
        Validate(schema.toObject(), value, QString(), faults, 0);
        return faults;
    }

    // Keywords used in the schema that this validator does not check, as "path: keyword".
    QStringList UnknownKeywords() const {
        QStringList unknown;
        Walk(Root_, QStringLiteral("#"), unknown);
        return unknown;
    }

    // The schema at a local pointer ("#", "#/$defs/name"); undefined when there is none.
    QJsonValue Resolve(const QString& pointer) const {
        if (!pointer.startsWith(QLatin1Char('#')))
            return QJsonValue(QJsonValue::Undefined);
        QJsonValue at = Root_;
        for (const QString& step : pointer.mid(1).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
            if (!at.isObject())
                return QJsonValue(QJsonValue::Undefined);
            at = at.toObject().value(step);
        }
        return at;
    }

private:
    static bool HasType(const QJsonValue& value, const QString& type) {
        if (type == QLatin1String("null"))
            return value.isNull();
        if (type == QLatin1String("boolean"))
            return value.isBool();
        if (type == QLatin1String("object"))
            return value.isObject();
        if (type == QLatin1String("array"))
            return value.isArray();
        if (type == QLatin1String("string"))
            return value.isString();
        if (type == QLatin1String("number"))
            return value.isDouble();
        if (type == QLatin1String("integer"))
            return value.isDouble() && std::floor(value.toDouble()) == value.toDouble();
        return false;
    }

    static QString Shown(const QString& path) {
        return path.isEmpty() ? QStringLiteral("/") : path;
    }

    void Validate(const QJsonObject& schema, const QJsonValue& value, const QString& path,
                  QStringList& faults, int depth) const {
        if (depth > 64) {
            faults << Shown(path) + QStringLiteral(": $ref nested too deep");
            return;
        }
        if (schema.contains(QStringLiteral("$ref"))) {
            const QString ref = schema.value(QStringLiteral("$ref")).toString();
            const QJsonValue target = Resolve(ref);
            if (!target.isObject())
                faults << Shown(path) + QStringLiteral(": unresolved $ref ") + ref;
            else
                Validate(target.toObject(), value, path, faults, depth + 1);
        }
        if (schema.contains(QStringLiteral("type"))) {
            const QJsonValue type = schema.value(QStringLiteral("type"));
            QStringList types;
            if (type.isArray())
                for (const QJsonValue& t : type.toArray())
                    types << t.toString();
            else
                types << type.toString();
            bool any = false;
            for (const QString& t : types)
                any = any || HasType(value, t);
            if (!any)
                faults << Shown(path) + QStringLiteral(": not of type ") +
                              types.join(QLatin1Char('|'));
        }
        if (schema.contains(QStringLiteral("const")) &&
            value != schema.value(QStringLiteral("const")))
            faults << Shown(path) + QStringLiteral(": not the constant");
        if (schema.contains(QStringLiteral("enum")) &&
            !schema.value(QStringLiteral("enum")).toArray().contains(value))
            faults << Shown(path) + QStringLiteral(": not one of the enumerated values");
        if (value.isObject()) {
            const QJsonObject object = value.toObject();
            for (const QJsonValue& key : schema.value(QStringLiteral("required")).toArray())
                if (!object.contains(key.toString()))
                    faults << Shown(path) + QStringLiteral(": missing ") + key.toString();
            const QJsonObject properties = schema.value(QStringLiteral("properties")).toObject();
            for (auto it = properties.begin(); it != properties.end(); ++it)
                if (object.contains(it.key()))
                    Validate(it.value().toObject(), object.value(it.key()),
                             path + QLatin1Char('/') + it.key(), faults, depth + 1);
        }
        if (value.isArray() && schema.contains(QStringLiteral("items"))) {
            const QJsonObject items = schema.value(QStringLiteral("items")).toObject();
            const QJsonArray array = value.toArray();
            for (qsizetype i = 0; i < array.size(); ++i)
                Validate(items, array.at(i), path + QLatin1Char('/') + QString::number(i), faults,
                         depth + 1);
        }
        if (schema.contains(QStringLiteral("oneOf"))) {
            int fitting = 0;
            QStringList why;
            for (const QJsonValue& choice : schema.value(QStringLiteral("oneOf")).toArray()) {
                QStringList own;
                Validate(choice.toObject(), value, path, own, depth + 1);
                if (own.isEmpty())
                    ++fitting;
                else
                    why << own.join(QStringLiteral("; "));
            }
            if (fitting != 1)
                faults << Shown(path) + QStringLiteral(": fits %1 of oneOf (%2)")
                                            .arg(fitting)
                                            .arg(why.join(QStringLiteral(" | ")));
        }
    }

    // Every schema object below `schema`, its keywords checked against the subset.
    static void Walk(const QJsonObject& schema, const QString& path, QStringList& unknown) {
        static const QSet<QString> known{
            QStringLiteral("$schema"), QStringLiteral("$id"),      QStringLiteral("$defs"),
            QStringLiteral("$ref"),    QStringLiteral("title"),    QStringLiteral("description"),
            QStringLiteral("type"),    QStringLiteral("required"), QStringLiteral("properties"),
            QStringLiteral("items"),   QStringLiteral("enum"),     QStringLiteral("const"),
            QStringLiteral("oneOf")};
        for (auto it = schema.begin(); it != schema.end(); ++it) {
            const QString key = it.key();
            if (!known.contains(key)) {
                unknown << path + QStringLiteral(": ") + key;
                continue;
            }
            const QString below = path + QLatin1Char('/') + key;
            if (key == QLatin1String("$defs") || key == QLatin1String("properties")) {
                const QJsonObject children = it.value().toObject();
                for (auto c = children.begin(); c != children.end(); ++c)
                    Walk(c.value().toObject(), below + QLatin1Char('/') + c.key(), unknown);
            } else if (key == QLatin1String("items")) {
                Walk(it.value().toObject(), below, unknown);
            } else if (key == QLatin1String("oneOf")) {
                const QJsonArray choices = it.value().toArray();
                for (qsizetype i = 0; i < choices.size(); ++i)
                    Walk(choices.at(i).toObject(), below + QLatin1Char('/') + QString::number(i),
                         unknown);
            }
        }
    }

    QJsonObject Root_;
};
