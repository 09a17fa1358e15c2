#pragma once

class QTreeWidget;
class QTreeWidgetItem;
class videoFile;

// The "Video tasks" tree: one row per video record (name, folder, state,
// result), found again by the record's id.
namespace videorows {

// Adds or updates the record's row: its state, and under "Result" the new
// video once it is being written, or the reason of a failure.
void show(QTreeWidget& tree, const videoFile& record);
int recordIdOf(const QTreeWidgetItem& row);

} // namespace videorows
