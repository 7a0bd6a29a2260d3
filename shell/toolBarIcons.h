#pragma once
// The tool bar's small pictures (16 x 15), drawn at start so the program
// needs no image files and no icon theme.

#include <QIcon>

QIcon toolBarIcon(int commandId);
