#pragma once
// The line settings the speed dialog may hand to the port.

#include "link/LineSettings.h"

#include <QString>
#include <QStringList>
#include <array>

inline const QString kDefaultSettings = QStringLiteral("4800,N,8,1");

// "N,N,8,1" for every speed of kLineSpeeds (startup/ConfigFiles.h), the speeds
// filedata.fm may list; only these are accepted, compared character for
// character.
QStringList acceptedSettingsList();

// v itself when accepted, else kDefaultSettings.
QString acceptedSettings(const QString& v);

// The settings for list entry `index` (from 0; -1: nothing selected), which
// shows BaudRates entry index + 1. Nothing selected reads the empty entry 0.
// The entry's text is read here, where it comes in from the file.
LineSettings settingsForChoice(const std::array<QString, 5>& BaudRates, int index);
