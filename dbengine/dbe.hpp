#pragma once
// The engine's call surface: numbered work areas, each holding one open table, with
// an alias of its own; the functions act on the current work area. All calls belong
// to one thread (the GUI thread). Functions report failure by returning 0 (or an
// empty text); dbe_Error and dbe_ErrorText then tell why.
//
// Open modes: 0 shared, 1 read-only (shared), 2 exclusive. Driver 2 is the FoxPro
// table with its compound (CDX) production index; no other driver is served.
// Record buffers are the stored record: the deletion flag byte, then every field at
// its width, blank-padded (dbe_RecSize bytes).
namespace vz::db {
class FileSystem;
}

// Error numbers of dbe_Error.
inline constexpr int kDbeOk = 0;
inline constexpr int kDbeErrOpen = 1;        // the table could not be opened
inline constexpr int kDbeErrDamaged = 2;     // the table file is not sound
inline constexpr int kDbeErrNoTable = 3;     // no table in the current work area
inline constexpr int kDbeErrArgument = 4;    // a bad argument or call order
inline constexpr int kDbeErrExpression = 5;  // an expression the engine does not understand
inline constexpr int kDbeErrLocked = 6;      // a record or the table is locked by another user
inline constexpr int kDbeErrIo = 7;          // reading or writing failed
inline constexpr int kDbeErrReadOnly = 8;    // the table is open read-only
inline constexpr int kDbeErrNoRecord = 9;    // no current record (end of file)
inline constexpr int kDbeErrCreate = 10;     // the table could not be created
inline constexpr int kDbeErrIndex = 11;      // index creation or use failed
inline constexpr int kDbeErrDriver = 12;     // driver not served

inline constexpr int kDbeDriverFoxPro = 2;
inline constexpr int kDbeModeShared = 0;
inline constexpr int kDbeModeReadOnly = 1;
inline constexpr int kDbeModeExclusive = 2;

// Engine settings.
int dbe_SetStringType(int type);  // 1: field texts returned without trailing blanks; returns the old one
int dbe_ErrorLevel(int level);    // 0 silent, 1 remember errors, 2 also print them; returns the old one
// 1: the next dbe_Use leaves its check of a small index to dbe_CheckIndexAsOnOpen (a
// window that shows the table first); returns the old setting.
int dbe_SetDeferIndexCheck(int defer);
const char* dbe_Version();
int dbe_Error();
const char* dbe_ErrorText();

// New tables: declare, add the fields in order, write. dbe_CreateExec opens the new
// table exclusively in a new work area and makes it current.
int dbe_CreateNew(const char* file, const char* alias, int driver, int fieldCount);
int dbe_CreateField(const char* name, const char* type, int width, int decimals);
int dbe_CreateExec();

// Work areas.
int dbe_Use(const char* path, const char* alias, int mode, int driver);  // the new area, 0 on failure
int dbe_Select(int area);  // makes area current (0: none); returns the area current before; keeps dbe_Error
int dbe_SelectAlias(const char* alias);  // area of the alias made current; 0 when unknown
int dbe_Area();                        // current area, 0 when none
const char* dbe_Alias();               // alias of the current area
int dbe_Close();                       // closes the current area
void dbe_CloseAll();

// Structure of the current table.
int dbe_FieldCount();
const char* dbe_FieldName(int field);  // fields count from 1
const char* dbe_FieldType(int field);
int dbe_FieldWidth(int field);
int dbe_FieldDecimals(int field);
int dbe_FieldOffset(int field);  // offset in the record buffer
int dbe_FieldNumber(const char* name);  // 0 when absent
int dbe_RecSize();

// Production index and order.
int dbe_IndexTag(const char* file, const char* tag, const char* key, int option, int descending,
                 const char* condition);  // option 1: unique; an empty file: the production index
int dbe_TagArea(const char* tag);         // order number of the tag, 0 when absent
const char* dbe_TagName(int order);
int dbe_TagCount();
int dbe_SetOrder(int order);  // 0: record order
int dbe_Order();
int dbe_Reindex();
int dbe_Seek(const char* key);
// Record numbers of the current order in order, read from the index alone: writes up
// to `capacity` of them and returns how many there are (-1 on failure, 0 without an
// order). Call with capacity 0 to learn the number.
int dbe_OrderRecNos(int* buffer, int capacity);
// The production index's change counter as the file holds it now (one read of four
// bytes): every writer of the index, this engine or another program, moves it, so a
// reader compares it with the value it last saw to learn whether anyone changed the
// table. 0 without an index or on failure (dbe_Error tells which).
unsigned dbe_IndexChangeCounter();
// The check dbe_Use left to later (dbe_SetDeferIndexCheck), once: 1 when it found the
// index damaged (then mended, as on open), else 0.
int dbe_CheckIndexAsOnOpen();

// Filter.
int dbe_Query(const char* expression);  // empty: no filter
int dbe_QueryRecCount();                // records passing the filter, others' changes included

// Navigation and reading.
int dbe_GoTop();
int dbe_GoBottom();
int dbe_Skip(int count);
int dbe_Go(int recno);
int dbe_RecNo();
int dbe_RecCount();
int dbe_Bof();
int dbe_Eof();
int dbe_Deleted();
int dbe_GetRecord(char* buffer);  // dbe_RecSize bytes, then a NUL
int dbe_GetField(int field, char* buffer, int size);  // field text, NUL-terminated, clipped to size - 1
int dbe_Refresh();                // re-reads the current record and the record count

// Changes. dbe_AppendBlank starts a new record of blanks; dbe_PutRecord writes it as
// a new record (or, without a pending append, replaces the current record). Moving
// away from a pending append writes it blank, as appending a blank record does.
int dbe_AppendBlank();
int dbe_PutRecord(const char* buffer);
int dbe_Delete();
int dbe_Recall();
int dbe_Unlock();  // locks are held only while a change is written: nothing to release

// Tests and tools: the file system the next dbe_Use and dbe_CreateExec work on
// (nullptr: the host's files).
void dbe_SetFileSystem(vz::db::FileSystem* fs);
// The file system set last (nullptr: the host's files): other openers of a table in use
// open it through the same files.
vz::db::FileSystem* dbe_FileSystem();
