// The fixed texts of the dialogs (code page 932 at run time).
#pragma once

// Title of every message box of a run.
#define TAVO_DIALOG_TITLE "TAVO利用者ソフト アンインストールツール"

#define TAVO_START_SENTENCE "ツールによるTAVO利用者ソフトのアンインストールを開始します。"
#define TAVO_START_QUESTION "よろしいですか?"
#define TAVO_END_SENTENCE "ツールによるTAVO利用者ソフトのアンインストールを終了します。"

#define TAVO_ASK_FOLDER "このフォルダを削除しますか?"
#define TAVO_ASK_FILE "このファイルを削除しますか?"
#define TAVO_ASK_KEY "このレジストリキーを削除しますか?"
#define TAVO_ASK_PROVIDERS "このレジストリキー配下にあるTAVO利用者ソフト用プロバイダを削除しますか?"
#define TAVO_ASK_ARCHIVES "このフォルダ配下にあるTAVO利用者ソフト用JARファイルを削除しますか?"
#define TAVO_ASK_ABORT "処理を中止します。よろしいですか?"

// Labels of the record lines in a key message: 16 bytes of word and spaces,
// a TAB, a colon and a space.
#define TAVO_LABEL_NAME "プログラム名    \t: "
#define TAVO_LABEL_VERSION "バージョン      \t: "
#define TAVO_LABEL_PATH "インストールパス\t: "
#define TAVO_LABEL_DATE "インストール日  \t: "

// The root the key and provider questions name their keys below.
#define TAVO_QUESTION_ROOT "HKEY_LOCAL_MACHINE"
