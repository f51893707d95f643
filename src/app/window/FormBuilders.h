#pragma once

// Small helpers for building the window's controls in code, each named as its objectName.

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QStringList>

#include <array>
#include <string_view>

namespace tarnwick::build {

template <typename W>
inline W* Named(W* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

inline QPushButton* Button(const char* name, const QString& caption, QWidget* parent = nullptr)
{
    return Named(new QPushButton(caption, parent), name);
}

inline QLabel* Label(const QString& text, const char* name = nullptr)
{
    auto* label = new QLabel(text);
    if (name)
        label->setObjectName(QString::fromLatin1(name));
    return label;
}

inline QComboBox* Combo(const char* name, const QStringList& items, bool editable = false)
{
    auto* box = Named(new QComboBox, name);
    box->setEditable(editable);
    box->addItems(items);
    return box;
}

template <size_t N>
QStringList Items(const std::array<std::string_view, N>& texts)
{
    QStringList list;
    for (std::string_view t : texts)
        list << QString::fromLatin1(t.data(), static_cast<qsizetype>(t.size()));
    return list;
}

}  // namespace tarnwick::build
