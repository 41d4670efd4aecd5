#pragma once

#include <QAbstractItemModel>
#include <QString>

#include <array>
#include <vector>

// What one row of the port list shows: the five column texts and the images of columns 0 and 2.
struct PortRowView {
    static constexpr int ColumnCount = 5;
    std::array<QString, ColumnCount> texts;
    int portImage = 0;
    int linkImage = 0;
};

// The rows of the port list in display order. Each row carries its port's VspId as item data and a check
// box in column 0; the windows only display it. Used on the GUI thread.
class CPortListModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { PortColumn = 0, SettingsColumn, LinkColumn, CommentColumn, ProgramColumn };
    enum Role {
        VspIdRole = Qt::UserRole,     // the port's VspId
        ImageRole = Qt::UserRole + 1, // image number of columns 0 and 2
    };

    using QAbstractItemModel::QAbstractItemModel;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // A new row at the end: the port name with image 4 for a bypass port else 0, the comment, the id.
    void AppendRow(int vspId, const QString& portName, const QString& comment, bool bypass);
    void RemoveRowOf(int vspId);
    // Rewrites the row of the port; a port without a row is ignored.
    void SetRowView(int vspId, const PortRowView& view);

    int RowCount() const { return static_cast<int>(m_rows.size()); }
    int RowOf(int vspId) const; // -1 when none
    int VspIdAt(int row) const { return m_rows[row].vspId; }
    bool IsChecked(int row) const { return m_rows[row].checked; }
    void SetChecked(int row, bool checked);
    int CheckedCount() const;

    // Shorter port names first; names of equal length by character code, so COM2 comes before COM10.
    void SortByPortName();
    static bool PortNameLess(const QString& a, const QString& b);

private:
    struct Row {
        int vspId = 0;
        bool checked = false;
        PortRowView view;
    };
    std::vector<Row> m_rows;
};
