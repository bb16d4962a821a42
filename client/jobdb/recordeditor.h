#pragma once

#include <QDate>
#include <QString>
#include <optional>

namespace kestro::jobdb {

class Database;

// The differences between the project editor and the delivery-address editor.
struct EditorConfig {
    enum class List { Projects, DeliveryAddresses };

    QString table;        // "Projekte" / "LieferAdr"
    QString numberColumn; // "ProNumber" / "LiefNumber"
    QString caption;      // "Projekte" / "Lieferadressen"
    QString numberLabel;  // "&Projekt - Nr" / "&Liefer - Nr"
    List listToReload;    // the main-window list to reload on closing

    static EditorConfig projects();
    static EditorConfig deliveryAddresses();
};

// One record as the editor shows it.
struct EditorRecord {
    qint32 number = 0;
    QString name1;
    QString name2;
    QString name3;
    QString street;
    QString plzOrt;
    QString contact;

    bool operator==(const EditorRecord&) const = default;
};

// The logic of the two record editors, one class for both, configured by EditorConfig. Records
// are addressed by number only; the window's scroll bar reaches numbers up to 32767.
class RecordEditor {
public:
    static constexpr qint32 kHighestNumber = 32767;

    RecordEditor(const Database& db, EditorConfig config) : db_(db), config_(std::move(config)) {}

    const EditorConfig& config() const { return config_; }

    // The highest non-zero number (the scroll bar's maximum), 0 for an empty table.
    qint32 maximumNumber() const;
    // The lowest number above 0, the record the editor opens on; 0 for an empty table.
    qint32 firstNumber() const;
    // The record with that number (trailing blanks removed, Null as empty), or nullopt when
    // there is none: the window then keeps what it shows.
    std::optional<EditorRecord> seek(qint32 number) const;
    // Adds a record numbered highest + 1 (1 for an empty table) with empty texts and returns
    // it; nullopt when the number would pass kHighestNumber or the row could not be added.
    std::optional<EditorRecord> newRecord();
    // Writes the texts into the record with that number; when there is none, adds a row that
    // carries the number too, so it can be reached again. A text too long for its column is
    // left out. False when the database refused or the number is
    // outside 1..kHighestNumber.
    bool save(const EditorRecord& record);
    // The delete button: name 1 becomes "gelöscht am: " and today's short date, the other
    // texts empty, the number kept. Only the shown record changes; save() stores it.
    static EditorRecord markedDeleted(EditorRecord record, const QDate& today);

private:
    // The first number above 0 in the given order ("ASC" / "DESC"), 0 when there is none.
    qint32 boundaryNumber(const QString& order) const;

    const Database& db_;
    EditorConfig config_;
};

} // namespace kestro::jobdb
