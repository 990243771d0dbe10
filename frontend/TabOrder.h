#pragma once

class QWidget;

// Tab goes through the fields as they are read: the layouts of `root` in
// order, grids row by row, splitters and scroll areas entered.
void setReadingTabOrder(QWidget* root);
