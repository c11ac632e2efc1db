// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QFrame>
#include <QLabel>
#include <QString>

// Controls, each with the object name the rest of the program and the tests
// find it by; place() also puts it at a fixed position on a window's client
// area.

template <typename W> W* named(QWidget* parent, const QString& name) {
    auto* widget = new W(parent);
    widget->setObjectName(name);
    return widget;
}

template <typename W> W* place(QWidget* parent, const char* name, QRect geometry) {
    auto* widget = named<W>(parent, QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

inline QLabel* label(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* l = place<QLabel>(parent, name, geometry);
    l->setText(text);
    return l;
}

// A sunken separator line, horizontal or vertical.
inline QFrame* line(QWidget* parent, const char* name, QRect geometry, QFrame::Shape shape) {
    auto* f = place<QFrame>(parent, name, geometry);
    f->setFrameShape(shape);
    f->setFrameShadow(QFrame::Sunken);
    return f;
}
