#pragma once
// Sizes for the font the console really shows. The windows' pixel sizes (the main frame, its
// panes, the list columns) were laid out for a dialog font of 6-pixel characters, averaged over
// A-Z and a-z as dialog units are; ScaledWidth turns such a width into one for a widget's own
// font, in the same proportion. List columns never cut their texts: a column starts at its
// scaled width and widens to its widest text; a list without laid-out widths widens to its
// widest row. GUI thread only.

#include <vector>

class QListWidget;
class QSize;
class QTreeWidget;
class QWidget;

// `pixels` of the first layout, for `widget`'s font.
int ScaledWidth(const QWidget* widget, int pixels);
QSize ScaledSize(const QWidget* widget, int width, int height);

// Gives the report list `list` columns of `widths` (of the first layout, in column order), each
// widened to its texts and its header's, again whenever its rows change. The list is at least
// as wide as its columns, as far as its window still fits on the screen; beyond that it
// scrolls.
void FitColumns(QTreeWidget* list, std::vector<int> widths);
// Makes `list` at least as wide as its widest row, whenever its rows change, as far as its
// window still fits on the screen.
void FitToRows(QListWidget* list);
