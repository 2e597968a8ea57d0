#include "ui/message_table.h"

#include <array>

namespace vellumark {
namespace {

using Table = std::array<const char*, kMessageSlots>;

// Every slot has a text now; 10, 28 and 61 refuse
// a destination that another run is using, a report named like a rescued
// file, and a folder that takes no files; 72, 73 and 80 tell what a rescue
// could not do; 82 names the box for .docx files; 85 ends a run that ran out
// of memory, and 86 to 88 say why a path is no source (they follow the path);
// 90 to 94 tell how an image backup ended (the map of sectors not copied, an
// unfinished image kept or deleted); 96 to 99 say why a disk the program may
// not open was not handed over by the disk service either, and what to do;
// 100 to 102 give a run's pace below the progress windows' labels; 84
// titles the folder chooser and 89 is the image files' filter of the open
// and save dialogs, in Qt's form; 95 is the status bar's link to the help
// window and 103 says why a rescued file could not be opened (it follows
// slot 48 and the file's path). Several texts end in a blank because the
// caller appends a number or a name. The results window's
// headings, property labels and verdict words (0, 30 to 34, 64, 71, 74, 76,
// 79, 81, 83) have no colon: the window adds one where it puts a value after them.
constexpr Table kEnglish = {
    /* 0 */ "Name",
    /* 1 */ "Vellumark 1.3",
    /* 2 */ "Open Drive",
    /* 3 */ "Open IMG file",
    /* 4 */ "Close",
    /* 5 */ "Sector:",
    /* 6 */ "Goto",
    /* 7 */ "File Type:",
    /* 8 */ "Save files to:",
    /* 9 */ "Browse",
    /* 10 */ "Another rescue is saving files to this folder!",
    /* 11 */ "File System:",
    /* 12 */ "Cluster Size:",
    /* 13 */ "Scan Range:",
    /* 14 */ "Start Rescue",
    /* 15 */ "Backup to IMG file",
    /* 16 */ "Failed to open drive!",
    /* 17 */ "Error",
    /* 18 */ "Total Sectors: ",
    /* 19 */ "Invalid sector range!",
    /* 20 */ "Please select file type to rescue!",
    /* 21 */ "Please select folder to save file!",
    /* 22 */ "Dest folder can't be on source drive!",
    /* 23 */ "invalid sector range!",
    /* 24 */ "Rescue files...",
    /* 25 */ "Success: ",
    /* 26 */ "Scaned: ",
    /* 27 */ "Rescued file ",
    /* 28 */ "The report can't take the name of a rescued file!",
    /* 29 */ "Finished",
    /* 30 */ "Title",
    /* 31 */ "Verdict",
    /* 32 */ "Size",
    /* 33 */ "Fragments",
    /* 34 */ "Author",
    /* 35 */ "Invalid sector range!",
    /* 36 */ "Can't save IMG file on source drive!",
    /* 37 */ "Backup to IMG",
    /* 38 */ "Creating IMG file...",
    /* 39 */ "Wait a moment",
    /* 40 */ "No enough free space on dest drive!",
    /* 41 */ "Sector: ",
    /* 42 */ "Percent: ",
    /* 43 */ "Error: ",
    /* 44 */ "Didn't finish, delete target file?",
    /* 45 */ "Prompt",
    /* 46 */ "Finished! There're some bad sectors.",
    /* 47 */ "Finished!",
    /* 48 */ "Failed to open file!",
    /* 49 */ "Searching file",
    /* 50 */ "Sector: ",
    /* 51 */ "Percent: ",
    /* 52 */ "Found: ",
    /* 53 */ "Pause",
    /* 54 */ "Stop",
    /* 55 */ "Cancel",
    /* 56 */ "Rescue File",
    /* 57 */ "File List:",
    /* 58 */ "Preview:",
    /* 59 */ "Close",
    /* 60 */ "Simple steps: 1. Select drive; 2. Open drive; 3. Select folder to store rescued files; "
             "4. Select the reason of losing file; 5. Start rescue.",
    /* 61 */ "Can't write files to the dest folder!",
    /* 62 */ "More >>",
    /* 63 */ "Failed to get parameters",
    /* 64 */ "Last saved",
    /* 65 */ "Progress: ",
    /* 66 */ "Reason:",
    /* 67 */ "Deleted or Disappeared",
    /* 68 */ "Formatted",
    /* 69 */ "Repartitioned",
    /* 70 */ "Unknown file system, not support this option!",
    /* 71 */ "Type",
    /* 72 */ "Sectors that could not be read: ",
    /* 73 */ "Documents found but not written: ",
    /* 74 */ "whole",
    /* 75 */ "1.3",
    /* 76 */ "damaged",
    /* 77 */ "Source:",
    /* 78 */ "Lost data on drive:",
    /* 79 */ "unchecked",
    /* 80 */ "The source stopped giving data at sector ",
    /* 81 */ "partial",
    /* 82 */ "DOCX(Word 2007+)",
    /* 83 */ "Reassembled from",
    /* 84 */ "Save rescued files to",
    /* 85 */ "Out of memory! The operation was stopped.",
    /* 86 */ "it is a pipe, not a drive or an image file",
    /* 87 */ "it is a socket, not a drive or an image file",
    /* 88 */ "it is a character device, not a drive or an image file",
    /* 89 */ "Disk images (*.img *.dd *.raw *.bin *.iso);;All files (*)",
    /* 90 */ "Sectors not copied are listed for GNU ddrescue in ",
    /* 91 */ "Backup cancelled.",
    /* 92 */ "The unfinished image is kept as ",
    /* 93 */ "The unfinished image was deleted.",
    /* 94 */ "The list of sectors not copied could not be written: ",
    /* 95 */ "Help",
    /* 96 */ "permission denied, and the disk service refused it too. Join the disk group (then log in again) or start the program as root to read this disk",
    /* 97 */ "the disk service does not know this device; it may have been removed. Choose the drive again after the list refreshes",
    /* 98 */ "the device is busy: another program holds it. Close that program, or unmount the disk, and try again",
    /* 99 */ "permission denied, and no disk service (UDisks2) was there to ask. Join the disk group (then log in again) or start the program as root to read this disk",
    /* 100 */ "Speed: ",
    /* 101 */ "Time left: ",
    /* 102 */ "Documents found: ",
    /* 103 */ "no program on this system opens files of this kind",
};

constexpr Table kSimplified = {
    /* 0 */ "名称",
    /* 1 */ "Vellumark1.3",
    /* 2 */ "打开分区",
    /* 3 */ "打开映像文件",
    /* 4 */ "关闭",
    /* 5 */ "扇区:",
    /* 6 */ "转到",
    /* 7 */ "文件类型:",
    /* 8 */ "恢复文件保存到:",
    /* 9 */ "浏览",
    /* 10 */ "另一个恢复任务正在向此文件夹保存文件!",
    /* 11 */ "分区类型:",
    /* 12 */ "簇大小:",
    /* 13 */ "扫描扇区范围:",
    /* 14 */ "开始恢复",
    /* 15 */ "备份到映像文件",
    /* 16 */ "打开分区失败!",
    /* 17 */ "错误",
    /* 18 */ "扇区总数: ",
    /* 19 */ "超出有效扇区范围!",
    /* 20 */ "请选择要恢复的文件类型!",
    /* 21 */ "请设置恢复文件保存的路径!",
    /* 22 */ "恢复文件保存的路径不得在源文件同一分区!",
    /* 23 */ "扫描扇区范围无效!",
    /* 24 */ "正在恢复文件",
    /* 25 */ "恢复成功: ",
    /* 26 */ "已扫描: ",
    /* 27 */ "成功恢复文件 ",
    /* 28 */ "报告不能使用恢复文件的名称!",
    /* 29 */ "恢复结束",
    /* 30 */ "标题",
    /* 31 */ "检查结果",
    /* 32 */ "大小",
    /* 33 */ "碎片数",
    /* 34 */ "作者",
    /* 35 */ "备份扇区范围无效!",
    /* 36 */ "备份文件不能保存到源分区上!",
    /* 37 */ "备份到映像文件",
    /* 38 */ "正在创建映像文件...",
    /* 39 */ "请稍等",
    /* 40 */ "目标分区空间不足!",
    /* 41 */ "扇区: ",
    /* 42 */ "百分比: ",
    /* 43 */ "错误: ",
    /* 44 */ "备份未完成，是否删除目标文件?",
    /* 45 */ "提示",
    /* 46 */ "备份结束! 有部分扇区读取失败.",
    /* 47 */ "备份完成!",
    /* 48 */ "打开文件失败!",
    /* 49 */ "正在搜索文件",
    /* 50 */ "扇区: ",
    /* 51 */ "百分比: ",
    /* 52 */ "找到文件: ",
    /* 53 */ "暂停",
    /* 54 */ "停止",
    /* 55 */ "取消",
    /* 56 */ "恢复文件",
    /* 57 */ "文件列表:",
    /* 58 */ "预览:",
    /* 59 */ "关闭",
    /* 60 */ "基本操作: 1. 选择分区; 2. 打开分区; 3. 指定保存文件夹; 4. 选择文件丢失原因; 5. 开始恢复.",
    /* 61 */ "无法向目标文件夹写入文件!",
    /* 62 */ "更多功能>>",
    /* 63 */ "获取分区参数失败",
    /* 64 */ "最后保存",
    /* 65 */ "进度: ",
    /* 66 */ "原因:",
    /* 67 */ "删除或自动消失",
    /* 68 */ "格式化",
    /* 69 */ "重新分区",
    /* 70 */ "未知分区类型, 不支持该选项!",
    /* 71 */ "类型",
    /* 72 */ "无法读取的扇区: ",
    /* 73 */ "已找到但未能写入的文件: ",
    /* 74 */ "完整",
    /* 75 */ "1.3",
    /* 76 */ "已损坏",
    /* 77 */ "源盘: ",
    /* 78 */ "丢失数据的分区:",
    /* 79 */ "未检查",
    /* 80 */ "源从此扇区起不再提供数据: ",
    /* 81 */ "部分",
    /* 82 */ "DOCX(Word 2007及以上)",
    /* 83 */ "重组碎片数",
    /* 84 */ "恢复文件保存到",
    /* 85 */ "内存不足! 操作已停止.",
    /* 86 */ "这是管道, 不是分区或映像文件",
    /* 87 */ "这是套接字, 不是分区或映像文件",
    /* 88 */ "这是字符设备, 不是分区或映像文件",
    /* 89 */ "磁盘映像文件 (*.img *.dd *.raw *.bin *.iso);;所有文件 (*)",
    /* 90 */ "未复制的扇区已列入 GNU ddrescue 映射文件: ",
    /* 91 */ "备份已取消.",
    /* 92 */ "未完成的映像文件保留为: ",
    /* 93 */ "未完成的映像文件已删除.",
    /* 94 */ "无法写入未复制扇区的列表: ",
    /* 95 */ "帮助",
    /* 96 */ "权限不足, 磁盘服务也拒绝了. 请加入 disk 组 (然后重新登录) 或以 root 身份启动程序来读取此磁盘",
    /* 97 */ "磁盘服务不认识此设备, 它可能已被移除. 请在列表刷新后重新选择驱动器",
    /* 98 */ "设备正忙: 另一个程序正在使用它. 请关闭该程序或卸载磁盘后重试",
    /* 99 */ "权限不足, 且没有可询问的磁盘服务 (UDisks2). 请加入 disk 组 (然后重新登录) 或以 root 身份启动程序来读取此磁盘",
    /* 100 */ "速度: ",
    /* 101 */ "剩余时间: ",
    /* 102 */ "已找到文档: ",
    /* 103 */ "系统中没有能打开此类文件的程序",
};

// Slot for slot the Simplified table in Traditional script and Taiwanese
// wording (檔案 for 文件), with the same punctuation and blanks, except that
// slot 77 has no trailing blank.
constexpr Table kTraditional = {
    /* 0 */ "名稱",
    /* 1 */ "Vellumark1.3",
    /* 2 */ "打開分區",
    /* 3 */ "打開映像檔案",
    /* 4 */ "關閉",
    /* 5 */ "扇區:",
    /* 6 */ "轉到",
    /* 7 */ "檔案類型:",
    /* 8 */ "恢復檔案保存到:",
    /* 9 */ "瀏覽",
    /* 10 */ "另一個恢復任務正在向此資料夾保存檔案!",
    /* 11 */ "分區類型:",
    /* 12 */ "簇大小:",
    /* 13 */ "掃描扇區範圍:",
    /* 14 */ "開始恢復",
    /* 15 */ "備份到映像檔案",
    /* 16 */ "打開分區失敗!",
    /* 17 */ "錯誤",
    /* 18 */ "扇區總數: ",
    /* 19 */ "超出有效扇區範圍!",
    /* 20 */ "請選擇要恢復的檔案類型!",
    /* 21 */ "請設置恢復檔案保存的路徑!",
    /* 22 */ "恢復檔案保存的路徑不得在源檔案同一分區!",
    /* 23 */ "掃描扇區範圍無效!",
    /* 24 */ "正在恢復檔案",
    /* 25 */ "恢復成功: ",
    /* 26 */ "已掃描: ",
    /* 27 */ "成功恢復檔案 ",
    /* 28 */ "報告不能使用恢復檔案的名稱!",
    /* 29 */ "恢復結束",
    /* 30 */ "標題",
    /* 31 */ "檢查結果",
    /* 32 */ "大小",
    /* 33 */ "碎片數",
    /* 34 */ "作者",
    /* 35 */ "備份扇區範圍無效!",
    /* 36 */ "備份檔案不能保存到源分區上!",
    /* 37 */ "備份到映像檔案",
    /* 38 */ "正在建立映像檔案...",
    /* 39 */ "請稍等",
    /* 40 */ "目標分區空間不足!",
    /* 41 */ "扇區: ",
    /* 42 */ "百分比: ",
    /* 43 */ "錯誤: ",
    /* 44 */ "備份未完成，是否刪除目標檔案?",
    /* 45 */ "提示",
    /* 46 */ "備份結束! 有部分扇區讀取失敗.",
    /* 47 */ "備份完成!",
    /* 48 */ "打開檔案失敗!",
    /* 49 */ "正在搜尋檔案",
    /* 50 */ "扇區: ",
    /* 51 */ "百分比: ",
    /* 52 */ "找到檔案: ",
    /* 53 */ "暫停",
    /* 54 */ "停止",
    /* 55 */ "取消",
    /* 56 */ "恢復檔案",
    /* 57 */ "檔案列表:",
    /* 58 */ "預覽:",
    /* 59 */ "關閉",
    /* 60 */ "基本操作: 1. 選擇分區; 2. 打開分區; 3. 指定保存資料夾; 4. 選擇檔案遺失原因; 5. 開始恢復.",
    /* 61 */ "無法向目標資料夾寫入檔案!",
    /* 62 */ "更多功能>>",
    /* 63 */ "獲取分區參數失敗",
    /* 64 */ "最後保存",
    /* 65 */ "進度: ",
    /* 66 */ "原因:",
    /* 67 */ "刪除或自動消失",
    /* 68 */ "格式化",
    /* 69 */ "重新分區",
    /* 70 */ "未知分區類型, 不支援該選項!",
    /* 71 */ "類型",
    /* 72 */ "無法讀取的扇區: ",
    /* 73 */ "已找到但未能寫入的檔案: ",
    /* 74 */ "完整",
    /* 75 */ "1.3",
    /* 76 */ "已損壞",
    /* 77 */ "源盤:",
    /* 78 */ "遺失資料的分區:",
    /* 79 */ "未檢查",
    /* 80 */ "源從此扇區起不再提供資料: ",
    /* 81 */ "部分",
    /* 82 */ "DOCX(Word 2007及以上)",
    /* 83 */ "重組碎片數",
    /* 84 */ "恢復檔案保存到",
    /* 85 */ "記憶體不足! 操作已停止.",
    /* 86 */ "這是管道, 不是分區或映像檔案",
    /* 87 */ "這是通訊端, 不是分區或映像檔案",
    /* 88 */ "這是字元裝置, 不是分區或映像檔案",
    /* 89 */ "磁碟映像檔案 (*.img *.dd *.raw *.bin *.iso);;所有檔案 (*)",
    /* 90 */ "未複製的扇區已列入 GNU ddrescue 對映檔: ",
    /* 91 */ "備份已取消.",
    /* 92 */ "未完成的映像檔保留為: ",
    /* 93 */ "未完成的映像檔已刪除.",
    /* 94 */ "無法寫入未複製扇區的列表: ",
    /* 95 */ "說明",
    /* 96 */ "權限不足, 磁碟服務也拒絕了. 請加入 disk 群組 (然後重新登入) 或以 root 身分啟動程式來讀取此磁碟",
    /* 97 */ "磁碟服務不認識此裝置, 它可能已被移除. 請在清單重新整理後再次選擇磁碟機",
    /* 98 */ "裝置正忙: 另一個程式正在使用它. 請關閉該程式或卸載磁碟後重試",
    /* 99 */ "權限不足, 且沒有可詢問的磁碟服務 (UDisks2). 請加入 disk 群組 (然後重新登入) 或以 root 身分啟動程式來讀取此磁碟",
    /* 100 */ "速度: ",
    /* 101 */ "剩餘時間: ",
    /* 102 */ "已找到文件: ",
    /* 103 */ "系統中沒有能開啟此類檔案的程式",
};

// An initializer list one short would leave a null slot at the end.
constexpr bool EverySlotFilled(const Table& table) {
  for (const char* text : table) {
    if (text == nullptr) return false;
  }
  return true;
}
static_assert(EverySlotFilled(kEnglish) && EverySlotFilled(kSimplified) && EverySlotFilled(kTraditional));

Language g_language = Language::English;

const Table& TableOf(Language language) {
  switch (language) {
    case Language::SimplifiedChinese: return kSimplified;
    case Language::TraditionalChinese: return kTraditional;
    default: return kEnglish;
  }
}

}  // namespace

void ChooseLanguage(Language language) { g_language = language; }
Language ChosenLanguage() { return g_language; }

const char* Text(Language language, int slot) {
  if (slot < 0 || slot >= kMessageSlots) return "";
  return TableOf(language)[static_cast<std::size_t>(slot)];
}

const char* Text(int slot) { return Text(g_language, slot); }

const char* TableFont(Language language) {
  switch (language) {
    case Language::SimplifiedChinese: return "宋体";
    case Language::TraditionalChinese: return "細明體";
    default: return "MS Sans Serif";
  }
}

const char* TableFont() { return TableFont(g_language); }

}  // namespace vellumark
