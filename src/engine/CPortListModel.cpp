#include "CPortListModel.h"

#include <algorithm>

QModelIndex CPortListModel::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || row < 0 || row >= RowCount() || column < 0 || column >= PortRowView::ColumnCount)
        return {};
    return createIndex(row, column);
}

QModelIndex CPortListModel::parent(const QModelIndex&) const {
    return {};
}

int CPortListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : RowCount();
}

int CPortListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : PortRowView::ColumnCount;
}

QVariant CPortListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= RowCount())
        return {};
    const Row& row = m_rows[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return row.view.texts[index.column()];
    case Qt::CheckStateRole:
        if (index.column() == PortColumn)
            return row.checked ? Qt::Checked : Qt::Unchecked;
        return {};
    case VspIdRole:
        return row.vspId;
    case ImageRole:
        if (index.column() == PortColumn)
            return row.view.portImage;
        if (index.column() == LinkColumn)
            return row.view.linkImage;
        return {};
    default:
        return {};
    }
}

bool CPortListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.row() >= RowCount() || role != Qt::CheckStateRole ||
        index.column() != PortColumn)
        return false;
    SetChecked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags CPortListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == PortColumn)
        result |= Qt::ItemIsUserCheckable;
    return result;
}

QVariant CPortListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const char* const headers[PortRowView::ColumnCount] = {"Virtual Port", "Virtual Port Setup",
                                                                  "Network State", "Comment", "Program"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= PortRowView::ColumnCount)
        return {};
    return QString::fromLatin1(headers[section]);
}

void CPortListModel::AppendRow(int vspId, const QString& portName, const QString& comment, bool bypass) {
    Row row;
    row.vspId = vspId;
    row.view.texts[PortColumn] = portName;
    row.view.texts[CommentColumn] = comment;
    row.view.portImage = bypass ? 4 : 0;
    beginInsertRows({}, RowCount(), RowCount());
    m_rows.push_back(std::move(row));
    endInsertRows();
}

void CPortListModel::RemoveRowOf(int vspId) {
    const int row = RowOf(vspId);
    if (row < 0)
        return;
    beginRemoveRows({}, row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
}

void CPortListModel::SetRowView(int vspId, const PortRowView& view) {
    const int row = RowOf(vspId);
    if (row < 0)
        return;
    m_rows[row].view = view;
    emit dataChanged(index(row, 0), index(row, PortRowView::ColumnCount - 1));
}

int CPortListModel::RowOf(int vspId) const {
    for (int row = 0; row < RowCount(); ++row)
        if (m_rows[row].vspId == vspId)
            return row;
    return -1;
}

void CPortListModel::SetChecked(int row, bool checked) {
    if (m_rows[row].checked == checked)
        return;
    m_rows[row].checked = checked;
    const QModelIndex cell = index(row, PortColumn);
    emit dataChanged(cell, cell, {Qt::CheckStateRole});
}

int CPortListModel::CheckedCount() const {
    return static_cast<int>(
        std::count_if(m_rows.begin(), m_rows.end(), [](const Row& r) { return r.checked; }));
}

bool CPortListModel::PortNameLess(const QString& a, const QString& b) {
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

void CPortListModel::SortByPortName() {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> oldIds;
    for (const QModelIndex& cell : before)
        oldIds.push_back(m_rows[cell.row()].vspId);
    std::stable_sort(m_rows.begin(), m_rows.end(), [](const Row& a, const Row& b) {
        return PortNameLess(a.view.texts[PortColumn], b.view.texts[PortColumn]);
    });
    QModelIndexList after;
    for (int i = 0; i < before.size(); ++i)
        after.push_back(index(RowOf(oldIds[i]), before[i].column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
