#include "app/japanese.h"

#include "app/qtconvert.h"
#include "sources/cachesource.h"
#include "tree/webcachetree.h"

#include <QRegularExpression>
#include <cerrno>
#include <vector>

namespace tarnhold::gui {

namespace {

struct TPhrase {
    const char* pattern;     // a regular expression over the core's English
    const char* replacement; // Japanese, with \1 … for what the pattern captured
};

// Whole sentences first, then the parts they are built of, then the system's
// error texts, so that a longer phrase is never cut up by a shorter one.
const TPhrase kMessages[] = {
    // Finding and opening a cache.
    {"no cache found: none in a Wine prefix(.*), none of a browser, and no demo cache installed "
     "with the program; name one with --cache PATH or \\$TARNHOLD_CACHE$",
     "キャッシュが見つかりません: Wine プレフィックスにも\\1ブラウザにもなく、デモ用キャッシュも"
     "インストールされていません。起動時に --cache で指定してください"},
    {"no cache found: looked for Internet Explorer's index.dat \\(also in the places of a "
     "profile, a drive and a Wine prefix\\), Chromium's and Firefox's caches in this folder and "
     "up to (\\d+) levels below it \\((\\d+) folders? looked into, links not followed",
     "キャッシュが見つかりません: このフォルダとその \\1 階層下までで Internet Explorer の "
     "index.dat（プロファイル、ドライブ、Wine プレフィックスの場所も）、Chromium と Firefox の"
     "キャッシュを探しました（\\2 個のフォルダを調べ、リンクはたどっていません"},
    {"; stopped after the first (\\d+)", "。最初の \\1 個で打ち切りました"},
    {"; (\\d+) folders? could not be read", "。\\1 個のフォルダは読めませんでした"},
    {"; no cache in the Wine prefix (.*)$", "（Wine プレフィックス \\1 にはキャッシュなし）"},
    {"\\$WINEPREFIX names no folder: ", "$WINEPREFIX の指すフォルダがありません: "},
    {" \\(not a folder\\)", "（フォルダではありません）"},
    {": not a regular file, so not an Internet Explorer cache index \\(index.dat\\)",
     ": 通常のファイルではないので、Internet Explorer のキャッシュ索引 (index.dat) ではありません"},
    {": not an Internet Explorer cache index \\(index.dat\\)",
     ": Internet Explorer のキャッシュ索引 (index.dat) ではありません"},
    {": not a regular file, so no index.dat",
     ": 通常のファイルではないので、index.dat ではありません"},
    {": not a regular file, so no cached file",
     ": 通常のファイルではないので、キャッシュされたファイルではありません"},
    {": not a regular file", ": 通常のファイルではありません"},
    {": no Firefox disk cache \\(cache2/entries\\)",
     ": Firefox のディスクキャッシュ (cache2/entries) がありません"},
    {": no shard \\(sqldb0...\\) of a SQL cache",
     ": SQL キャッシュのシャード (sqldb0…) がありません"},
    {"no shard can be read", "読めるシャードがありません"},
    {"no such shard", "そのシャードはありません"},
    {"the database cannot be opened", "データベースを開けません"},
    {": the file ends at byte (\\d+), inside its (\\d+)-byte header; no entry can be read",
     ": ファイルが \\2 バイトのヘッダーの途中（\\1 バイト目）で終わっているので、"
     "エントリを読めません"},
    {"no index.dat signature", "index.dat の署名がありません"},

    // Changing a cache.
    {"^the cache is in use: (.*) is locked by another program$",
     "キャッシュは使用中です: \\1 は他のプログラムがロックしています"},
    {"^the cache is in use: (.*); close the browser first$",
     "キャッシュは使用中です: \\1。先にブラウザを閉じてください"},
    {"^the cache cannot be changed safely: ", "キャッシュを安全に変更できません: "},
    {": cannot delete safely: ", ": 安全に削除できません: "},
    {": another program holds its lock; gave up waiting after ([0-9.]+) s",
     ": 他のプログラムがロックしています。\\1 秒待って諦めました"},
    {": the cache folder is a symbolic link or no folder; nothing outside the cache is touched",
     ": キャッシュフォルダがシンボリックリンクか、フォルダではありません。"
     "キャッシュの外には触れません"},
    {": a symbolic link, not a cached file",
     ": シンボリックリンクで、キャッシュされたファイルではありません"},
    {": too large for an index.dat", ": index.dat としては大きすぎます"},
    {": the index is damaged \\((.*)\\); it is only read, never written; nothing changed",
     ": 索引が壊れています（\\1）。読むだけで書き込みません。何も変更していません"},
    {": the change would break the index; nothing changed",
     ": 変更すると索引が壊れるので、何も変更していません"},
    {"; nothing changed$", "。何も変更していません"},
    {": a deleted entry recovered from the index's free blocks; it is no longer in the index, "
     "so nothing is deleted",
     ": 索引の空きブロックから復元した削除済みのエントリです。もう索引にないので、"
     "削除するものはありません"},
    {": not a name inside a cache folder", ": キャッシュフォルダの中の名前ではありません"},
    {"no index is loaded", "索引が読み込まれていません"},
    {"no URL record at this offset", "この位置に URL レコードがありません"},
    {"no hash item points at the record", "このレコードを指すハッシュ項目がありません"},
    {" overlaps the deleted record at (\\S+)", " が \\1 の削除済みレコードと重なっています"},
    {" overlaps the record at (\\S+)", " が \\1 のレコードと重なっています"},
    {" runs into the hash table page at (\\S+)", " が \\1 のハッシュ表のページにかかっています"},
    {" covers blocks that are not allocated", " が割り当てられていないブロックにかかっています"},
    {" runs past the data area", " がデータ領域の先まで続いています"},
    {" lies outside the data area", " がデータ領域の外にあります"},
    {"^the record at ", "レコード "},
    {"the index is shorter than its header", "索引がヘッダーより短くなっています"},
    {"; the entry file is left as it is$", "。エントリファイルはそのままにしました"},

    // Reading an entry again.
    {": the cache changed since it was read; read it again",
     ": 読んだ後でキャッシュが変わりました。読み直してください"},
    {": the entry is gone; read the cache again",
     ": エントリがなくなりました。キャッシュを読み直してください"},
    {": the body is shorter than when the cache was read",
     ": 本文がキャッシュを読んだときより短くなっています"},
    {": no such copy in the cache now", ": その写しはもうキャッシュにありません"},
    {": no entry file of this cache", ": このキャッシュのエントリファイルではありません"},
    {": the file holds another entry now", ": ファイルには今は別のエントリが入っています"},
    {": the hash of the body does not fit", ": 本文のハッシュが合いません"},
    {"stored encrypted", "暗号化されて保存されています"},
    {": the cached body has no length", ": キャッシュされた本文に長さがありません"},
    {": the cached body lies past the end of the file",
     ": キャッシュされた本文がファイルの終わりより先にあります"},
    {": the file ended before the cached body",
     ": キャッシュされた本文より前でファイルが終わっています"},
    {": the cached body ends early", ": キャッシュされた本文が途中で終わっています"},
    {"the body could not be read again as stored", "本文を保存されたとおりに読み直せませんでした"},
    {"^no cached copy", "キャッシュに写しがありません"},

    // What a damaged cache could not give.
    {": damaged:", ": 壊れています:"},
    {"the index's header cannot be trusted", "索引のヘッダーが信用できません"},
    {"the browser did not close it", "ブラウザが閉じずに終わっています"},
    {"(\\d+) block files missing or unreadable",
     "ブロックファイル \\1 個が見つからないか読めません"},
    {"(\\d+) addresses in the index name nothing readable",
     "索引のアドレス \\1 個が読めるものを指していません"},
    {"(\\d+) entry records could not be read", "エントリのレコード \\1 個が読めません"},
    {"(\\d+) of (\\d+) entry files could not be read",
     "エントリファイル \\2 個のうち \\1 個が読めません"},
    {"(\\d+) of (\\d+) entries could not be read", "エントリ \\2 個のうち \\1 個が読めません"},
    {"(\\d+) shards missing or unreadable", "シャード \\1 個が見つからないか読めません"},
    {"(\\d+) shards read only in part", "シャード \\1 個は一部しか読めません"},
    {"(\\d+) read despite a checksum that does not fit",
     "\\1 個はチェックサムが合わないまま読みました"},
    {"(\\d+) read despite a metadata hash that does not fit",
     "\\1 個はメタデータのハッシュが合わないまま読みました"},
    {"(\\d+) read despite a body hash that does not fit",
     "\\1 個は本文のハッシュが合わないまま読みました"},
    {"(\\d+) entries read in part", "\\1 個のエントリは一部だけ読みました"},
    {"(\\d+) with body bytes missing", "\\1 個は本文の一部が欠けています"},
    {"(\\d+) with only part of the body stored", "\\1 個は本文の一部しか保存されていません"},
    {"(\\d+) entries found in the block files, not through the index",
     "\\1 個のエントリは索引からでなくブロックファイルから見つけました"},
    {"; and (\\d+) more", "、ほか \\1 件"},
    {"; (\\d+) entr(?:y|ies) read, (\\d+) of them found by scanning its blocks$",
     "。エントリ \\1 個を読みました（うち \\2 個はブロックを走査して発見）"},
    {"; (\\d+) entr(?:y|ies) read$", "。エントリ \\1 個を読みました"},
    {"the file ends at byte (\\d+), its header says (\\d+)",
     "ファイルが \\1 バイト目で終わっています（ヘッダーでは \\2）"},
    {"its header gives the size as (\\d+) bytes, the file has (\\d+)",
     "ヘッダーのサイズは \\1 バイトですが、ファイルは \\2 バイトです"},
    {"only its first (\\d+) bytes are read, as much as an index can hold",
     "索引が持てる上限の、最初の \\1 バイトだけを読みました"},
    {"its header counts more blocks than an index can have",
     "ヘッダーのブロック数が索引の持てる数を超えています"},
    {"its header's block count gives (\\d+) bytes",
     "ヘッダーのブロック数では \\1 バイトになります"},
    {"(\\d+) hash items? points? outside the file or at no record",
     "ハッシュ項目 \\1 個がファイルの外か、レコードのない所を指しています"},
    {"(\\d+) records? of the hash table could not be read",
     "ハッシュ表のレコード \\1 個が読めません"},
    {"the response head ends early", "レスポンスヘッダーが途中で終わっています"},
    {"the response head cannot be read", "レスポンスヘッダーを読めません"},
    {"the body is stored only in part", "本文は一部しか保存されていません"},
    {"the body cannot be read", "本文を読めません"},
    {"the entry cannot be read", "エントリを読めません"},
    {"the key cannot be read", "キーを読めません"},
    {"the key names the answer to a POST request", "キーが POST 要求への応答を指しています"},
    {"damaged entry file \\(its metadata does not fit\\)",
     "壊れたエントリファイル（メタデータが合いません）"},
    {"the metadata's hash does not fit \\(torn write\\?\\): read as it is",
     "メタデータのハッシュが合いません（書き込みの途中?）。そのまま読みました"},
    {"the hash of the body does not fit: read as it is",
     "本文のハッシュが合いません。そのまま読みました"},

    // The entries and files a damage report names.
    {"(data_\\d+|f_[0-9a-f]+) block (\\d+) \\((\\d+) blocks?\\)",
     "\\1 のブロック \\2（\\3 ブロック）"},
    {": cut short: (\\d+) of (\\d+) blocks present",
     ": 途中で切れています（ブロック \\2 個のうち \\1 個）"},
    {": beyond the file's end", ": ファイルの終わりより先にあります"},
    {": beyond the file's blocks", ": ファイルのブロックより先にあります"},
    {": beyond the end of the file", ": ファイルの終わりより先にあります"},
    {"past the end of the file", "ファイルの終わりより先"},
    {": missing: its entries are lost", ": 見つかりません。そのエントリは失われました"},
    {"the body's end record is missing", "本文の終わりのレコードがありません"},
    {" is missing or not a regular file", " が見つからないか、通常のファイルではありません"},
    {" is missing\\b", " が見つかりません"},
    {": missing\\b", ": 見つかりません"},
    {"\\bthe body: ", "本文: "},
    {"\\bthe key: ", "キー: "},
    {"\\bthe response head: ", "レスポンスヘッダー: "},
    {"the header is damaged \\(no blockfile magic number\\)",
     "ヘッダーが壊れています（blockfile のマジックナンバーがありません）"},
    {"; the table was read as far as the file goes", "。表はファイルのある所まで読みました"},
    {"; the entries were looked for in the block files",
     "。エントリはブロックファイルから探しました"},
    {"index: only the first (\\d+) of (\\d+) slots were read",
     "index: スロット \\2 個のうち最初の \\1 個だけ読みました"},
    {"index: the table cannot be read past slot (\\d+)",
     "index: 表はスロット \\1 より先を読めません"},
    {"the table's length \\((\\d+)\\) is none the browser uses",
     "表の長さ (\\1) はブラウザの使う長さではありません"},
    {"the table is cut short \\((\\d+) of (\\d+)", "表が途中で切れています（\\2 個のうち \\1 個"},
    {" leads back to ", " から次へ進むと戻ってしまいます: "},
    {"a page of the chain again \\(a loop\\)", "チェーンの同じページに戻りました（ループ）"},
    {"no end record \\(the entry was not written to the end\\)",
     "終わりのレコードがありません（エントリが最後まで書かれていません）"},
    {"no response head \\(the entry was never finished\\)",
     "レスポンスヘッダーがありません（書き終わっていないエントリ）"},
    {"no response head", "レスポンスヘッダーがありません"},
    {"^not read: |: not read: ", ": 読んでいません: "},
    {"it has no table ([A-Za-z_0-9]+)", "表 \\1 がありません"},
    {"its entries have no column ([A-Za-z_0-9]+)", "エントリに列 \\1 がありません"},
    {"its bodies have no column ([A-Za-z_0-9]+)", "本文に列 \\1 がありません"},
    {" is no SQLite database", " は SQLite のデータベースではありません"},
    {" is no table", " は表ではありません"},
    {" lacks a table the browser keeps", " にはブラウザの持つ表がありません"},
    {" keeps a write-ahead log, which this program does not change",
     " には先行書き込みログがあり、このプログラムは変更しません"},
    {" is of a layout this program does not know", " はこのプログラムの知らない形式です"},
    {" \\(a layout this program does not know\\)", "（このプログラムの知らない形式）"},
    {": left mid-transaction; read as the last whole transaction left it",
     ": 更新の途中で残されています。最後に完了した更新のとおりに読みました"},
    {" was left mid-transaction \\(its ", " は更新の途中で残されています（"},
    {" was left in the middle of a change", " は変更の途中で残されています"},
    {"index: missing or unreadable; the shards found are read",
     "index: 見つからないか読めません。見つかったシャードを読みました"},
    {"index: not a SQL cache's index; the shards found are read",
     "index: SQL キャッシュの索引ではありません。見つかったシャードを読みました"},
    {"index: shorter than its header", "index: ヘッダーより短くなっています"},
    {"index: the browser did not close the cache \\(copied while it ran, or it crashed\\)",
     "index: ブラウザがキャッシュを閉じていません（動作中に写したか、異常終了しました）"},
    {"the browser did not close the cache \\(it runs, or it crashed\\): open it in the browser "
     "once and close it",
     "ブラウザがキャッシュを閉じていません（動作中か、異常終了しました）: "
     "一度ブラウザで開いて閉じてください"},
    {"the browser found the cache corrupt and will discard it",
     "ブラウザはキャッシュが壊れていると判断し、破棄します"},
    {"the browser found it corrupt", "ブラウザが壊れていると判断しました"},
    {"the index's header is damaged", "索引のヘッダーが壊れています"},
    {"the index's table cannot be read", "索引の表を読めません"},
    {"the index's table does not fit its file", "索引の表がファイルに合いません"},
    {"an address in the index names no entry \\(", "索引のアドレスがエントリを指していません（"},
    {"the address (\\S+) names no blocks", "アドレス \\1 がブロックを指していません"},
    {"the address (\\S+) names nothing", "アドレス \\1 は何も指していません"},
    {" names the same blocks twice", " が同じブロックを二度指しています"},
    {" is on none of the recently-used lists", " は最近使った一覧のどれにもありません"},
    {" is not allocated", " は割り当てられていません"},
    {" is empty but has an address", " は空なのにアドレスがあります"},
    {" is larger than its blocks", " がブロックより大きくなっています"},
    {"the header names another file \\((data_\\d+)\\)",
     "ヘッダーが別のファイル (\\1) を指しています"},
    {"no known block size \\((\\d+)\\)", "知らないブロックサイズです (\\1)"},
    {"no known state \\((\\d+)\\)", "知らない状態です (\\1)"},
    {"the entry is stored in ranges \\(media\\), which this program does not remove",
     "エントリは範囲ごと（メディア）に保存されていて、このプログラムは削除しません"},
    {"Chromium \\(process (\\d+)\\) is running with this cache \\(",
     "Chromium（プロセス \\1）がこのキャッシュで動いています（"},
    {"Firefox is running with this profile \\((.*) is locked\\)",
     "Firefox がこのプロファイルで動いています（\\1 がロックされています）"},
    {"the key, the response head and the body fail their checksums",
     "キー、レスポンスヘッダー、本文のチェックサムが合いません"},
    {"the key and the response head fail their checksums",
     "キーとレスポンスヘッダーのチェックサムが合いません"},
    {"the key and the body fail their checksums", "キーと本文のチェックサムが合いません"},
    {"the response head and the body fail their checksums",
     "レスポンスヘッダーと本文のチェックサムが合いません"},
    {"the key fails its checksum", "キーのチェックサムが合いません"},
    {"the response head fails its checksum", "レスポンスヘッダーのチェックサムが合いません"},
    {"the body fails its checksum", "本文のチェックサムが合いません"},
    {"the body fails the checksum the cache keeps for it",
     "本文がキャッシュの持つチェックサムに合いません"},
    {"the key is empty", "キーが空です"},
    {"the key does not end where its length says", "キーが長さの示す所で終わっていません"},
    {"the key is longer than the file allows", "キーがファイルに収まる長さを超えています"},
    {"the key's hash does not fit", "キーのハッシュが合いません"},
    {"the key names no address that can be listed", "キーが一覧にできるアドレスを指していません"},
    {"the key's address names nothing", "キーのアドレスが何も指していません"},
    {"the key's address is of the wrong kind for its length",
     "キーのアドレスの種類が長さに合いません"},
    {"the key's digest cannot be read", "キーのダイジェストを読めません"},
    {"the response head claims more bytes than it has",
     "レスポンスヘッダーが実際より多いバイト数を示しています"},
    {"the response head has no flags", "レスポンスヘッダーにフラグがありません"},
    {"the response head has no headers", "レスポンスヘッダーにヘッダーがありません"},
    {"the response head is longer than the file allows",
     "レスポンスヘッダーがファイルに収まる長さを超えています"},
    {"the response head is of an older format \\(", "レスポンスヘッダーが古い形式です（"},
    {"the response head is too short", "レスポンスヘッダーが短すぎます"},
    {"the response headers run past the head", "レスポンスヘッダーが範囲を越えています"},
    {"the record is torn \\(neither its checksum nor its key's hash fits\\)",
     "レコードが壊れています（チェックサムもキーのハッシュも合いません）"},
    {"the record's checksum does not fit", "レコードのチェックサムが合いません"},
    {"the next entry's address names no entry", "次のエントリのアドレスがエントリを指していません"},
    {"no rankings node", "ランキングノードがありません"},
    {": its rankings node does not name it", ": ランキングノードがこれを指していません"},
    {"no block file \\(wrong magic number\\)",
     "ブロックファイルではありません（マジックナンバーが違います）"},
    {"no entry file \\(wrong magic number\\)",
     "エントリファイルではありません（マジックナンバーが違います）"},
    {"too short for an entry file", "エントリファイルとしては短すぎます"},
    {"shorter than a block file's header", "ブロックファイルのヘッダーより短くなっています"},
    {"the file shrank while it was read", "読んでいる間にファイルが短くなりました"},
    {"it takes too long to read \\(damaged or hostile\\)",
     "読むのに時間がかかりすぎます（壊れているか、悪意のあるデータです）"},
    {"it was open when the cache was copied \\(possibly incomplete\\)",
     "キャッシュが写されたとき開いていました（不完全かもしれません）"},
    {"the body would decode to more than a sound one \\(a decompression bomb\\?\\); ",
     "本文を展開すると健全な大きさを超えます（展開爆弾?）。"},
    {"the body could not be decoded; copied as stored",
     "本文を展開できなかったので、保存されたとおりに写しました"},
    {"too large to rewrite; copied with its links unchanged",
     "書き換えるには大きすぎるので、リンクを変えずに写しました"},
    {"a piece of the body cannot be read", "本文の一部を読めません"},
    {"a body piece's size does not fit its place", "本文の断片のサイズが位置に合いません"},
    {": the body pieces stop early: ", ": 本文の断片が途中で終わっています: "},
    {": the entries stop early: ", ": エントリが途中で終わっています: "},
    {"the end record cannot be read", "終わりのレコードを読めません"},
    {"the header cannot be read", "ヘッダーを読めません"},
    {"(\\d+) older copies under other sites", "ほかのサイトの下の古い写し \\1 個"},
    {"allocated-block count differs from the bitmap", "割り当てブロック数がビットマップと違います"},
    {"allocation bits set past the last block", "最後のブロックより先に割り当てビットがあります"},
    {"block count does not match the file length", "ブロック数がファイルの長さと合いません"},
    {"file size field differs from the file length",
     "ファイルサイズの欄がファイルの長さと違います"},
    {"more pages than the file holds", "ファイルにあるより多いページ"},
    {"a page out of sequence", "順番の狂ったページ"},
    {"no HASH page there", "そこに HASH ページがありません"},
    {"no hash table", "ハッシュ表がありません"},
    {"more than 32 cache folders", "キャッシュフォルダが 32 個を超えています"},
    {"a change of the browser's recently-used lists was left unfinished",
     "ブラウザの最近使った一覧の変更が途中のままです"},
    {"no plain GET request", "通常の GET 要求ではありません"},
    {"no web address", "Web アドレスがありません"},
    {"an empty key", "空のキー"},
    {"\\bno key\\b", "キーがありません"},

    // The data folder and its files.
    {" \\(not saved over: it could not be read\\)", "（読めなかったので上書きしていません）"},
    {": (\\d+) damaged record\\(s\\); the file is left as it is and this run's changes are not "
     "kept",
     ": 壊れたレコードが \\1 件あります。ファイルはそのままにし、今回の変更は保存しません"},
    {": no Count of favorites; ", ": お気に入りの Count がありません。"},
    {": Count (.*) is no number of favorites; ", ": Count \\1 はお気に入りの数ではありません。"},
    {": Count (\\d+) is more favorites than the file holds; ",
     ": Count \\1 はファイルにあるお気に入りより多くなっています。"},
    {"read the (\\d+) favorites? the file holds", "ファイルにある \\1 件を読みました"},
    {"^cannot make a temporary folder in ", "一時フォルダを作れません: "},

    // Bookmarks and shortcuts to import.
    {"folders nested too deep are left out", "深すぎる階層のフォルダは省きました"},
    {"no Chromium bookmarks \\(not their JSON\\)", "Chromium のブックマークではありません"},
    {" \\(the latest changes are left out\\)", "（最新の変更は含まれていません）"},
    {"no Firefox bookmarks: ", "Firefox のブックマークではありません: "},
    {"the bookmarks cannot be read whole: ", "ブックマークを全部は読めません: "},
    {"no root folder of bookmarks", "ブックマークの最上位フォルダがありません"},

    // Archives and reports.
    {": the name ends neither in .warc.gz nor in .wacz",
     ": 名前が .warc.gz でも .wacz でも終わっていません"},
    {"the archive could not be written", "アーカイブを書き込めませんでした"},
    {"the archive could not be started", "アーカイブを書き始められませんでした"},
    {"the compressor could not start", "圧縮を始められません"},
    {"the compressor failed", "圧縮に失敗しました"},
    {"a record's block is longer than announced", "レコードのブロックが予告より長くなっています"},
    {"a record's block is shorter than announced", "レコードのブロックが予告より短くなっています"},
    {"^a temporary file", "一時ファイル"},
    {"^cancelled$", "中止しました"},
    {"the report file must end in .html, .htm or .csv",
     "レポートファイルの名前は .html、.htm、.csv のどれかで終わる必要があります"},
    {"^cannot write ", "書き込めません: "},

    // The system's own texts (glibc's English, as strerror gives them
    // without a Japanese catalogue).
    {"No such file or directory", "ファイルまたはフォルダがありません"},
    {"Permission denied", "アクセスが拒否されました"},
    {"Operation not permitted", "操作が許可されていません"},
    {"File exists", "ファイルが既にあります"},
    {"Not a directory", "フォルダではありません"},
    {"Is a directory", "フォルダです"},
    {"Directory not empty", "フォルダが空ではありません"},
    {"No space left on device", "ディスクに空きがありません"},
    {"Disk quota exceeded", "ディスクの割り当てを超えました"},
    {"Read-only file system", "読み取り専用のファイルシステムです"},
    {"Too many levels of symbolic links", "シンボリックリンクをたどれません"},
    {"File name too long", "ファイル名が長すぎます"},
    {"File too large", "ファイルが大きすぎます"},
    {"Input/output error", "入出力エラーです"},
    {"Device or resource busy", "使用中です"},
    {"Resource temporarily unavailable", "一時的に使えません"},
    {"Invalid argument", "引数が正しくありません"},
    {"Bad message", "データが壊れています"},
    {"Cannot allocate memory", "メモリが足りません"},
    {"Operation canceled", "中止されました"},
    {"Too many open files", "開いているファイルが多すぎます"},
    {"Invalid cross-device link", "別のデバイスをまたぐリンクです"},
    {"No such device", "デバイスがありません"},
    {"Stale file handle", "ファイルハンドルが古くなっています"},
    {"Value too large for defined data type", "値が大きすぎます"},
    {"Text file busy", "実行中のファイルです"},
    {"^error (\\d+)$", "エラー \\1"},
    // Lists of Japanese parts take the Japanese comma.
    {"(?<=[\\x{3040}-\\x{30FF}\\x{4E00}-\\x{9FFF}]), ", "、"},
    {": error (\\d+)$", ": エラー \\1"},
};

const TPhrase kWhere[] = {
    {"^the demo cache", "デモ用キャッシュ"},
    {"; no cache in the Wine prefix (.*)$", "（Wine プレフィックス \\1 にはキャッシュなし）"},
    {", profile ([^,()]+)", " (プロファイル \\1)"},
    {", the newest of (\\d+) browser caches", "、\\1 個のブラウザキャッシュのうち最新"},
    {"\\buser ([^,()]+)", "ユーザー \\1"},
    {"the Wine prefix ", "Wine プレフィックス "},
    {"the folder named", "指定したフォルダ"},
    {"the folder above Content.IE5", "Content.IE5 の上のフォルダ"},
    {"a user's profile", "ユーザーのプロファイル"},
    {"a Chromium cache found below it", "下にある Chromium のキャッシュ"},
    {"a Firefox cache found below it", "下にある Firefox のキャッシュ"},
    {"an Internet Explorer cache found below it", "下にある Internet Explorer のキャッシュ"},
    {", ", "、"},
};

struct TCompiled {
    QRegularExpression pattern;
    QString replacement;
};

template <std::size_t N> std::vector<TCompiled> Compile(const TPhrase (&phrases)[N]) {
    std::vector<TCompiled> compiled;
    compiled.reserve(N);
    for (const TPhrase& phrase : phrases)
        compiled.push_back({QRegularExpression(QString::fromUtf8(phrase.pattern)),
                            QString::fromUtf8(phrase.replacement)});
    return compiled;
}

QString Translate(QString text, const std::vector<TCompiled>& table) {
    for (const TCompiled& phrase : table)
        text.replace(phrase.pattern, phrase.replacement);
    return text;
}

} // namespace

QString JapaneseText(std::string_view english) {
    static const std::vector<TCompiled> table = Compile(kMessages);
    // Line by line: no phrase of the core spans a line, and "^" and "$"
    // mean the ends of each.
    const QStringList lines = QString::fromUtf8(english.data(), static_cast<int>(english.size()))
                                  .split(QLatin1Char('\n'));
    QStringList japanese;
    for (const QString& line : lines)
        japanese.append(Translate(line, table));
    return japanese.join(QLatin1Char('\n'));
}

QString JapaneseWhere(const std::string& english) {
    static const std::vector<TCompiled> table = Compile(kWhere);
    return Translate(QString::fromStdString(english), table);
}

QString ErrorText(const TError& error) {
    return EscapeControls(JapaneseText(error.Text()));
}

QString ReadReportText(const TReadReport& report) {
    if (!report.Damaged || report.Summary.empty())
        return {};
    return EscapeControls(JapaneseText(report.Summary));
}

QString DataFileProblem(const QString& name, const TRecordFileRead& read) {
    // ENOTDIR: the data folder itself is not a folder, reported on writing.
    if (read.Error && read.Error.Code() != ENOTDIR)
        return JapaneseText(read.Error.Text());
    if (read.BadRecords > 0)
        return QString::fromUtf8("%1: 壊れたレコード %2 件を読み飛ばしました")
            .arg(name)
            .arg(read.BadRecords);
    return {};
}

QString RenameListProblem(const TWebCacheTree& tree) {
    const auto nameOf = [](const std::filesystem::path& file) {
        return file.parent_path().filename() == kRenameListFolder
                   ? PathToQString(file.parent_path().filename() / file.filename())
                   : PathToQString(file.filename());
    };
    QString own = DataFileProblem(nameOf(tree.RenameListFile()), tree.RenameListRead());
    QString shared =
        DataFileProblem(nameOf(tree.SharedRenameListFile()), tree.SharedRenameListRead());
    if (own.isEmpty() || shared.isEmpty())
        return own.isEmpty() ? shared : own;
    return own + QStringLiteral(" / ") + shared;
}

} // namespace tarnhold::gui
