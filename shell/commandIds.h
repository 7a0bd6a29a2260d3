#pragma once
// Command and control numbers of the desktop program. Each command is a
// QAction whose data and object name carry its number, so menus, tool bar,
// handlers and tests all find the same action.

namespace commandId {
// File
inline constexpr int fileNew = 57600;
inline constexpr int fileOpen = 57601;
inline constexpr int fileSave = 57603;
inline constexpr int fileSaveAs = 57604;
inline constexpr int filePrintSetup = 57606;
inline constexpr int filePrint = 57607;
inline constexpr int filePrintDirect = 57608;
inline constexpr int filePrintPreview = 57609;
inline constexpr int fileRecent = 57616; // first entry of the recent-file list
inline constexpr int appExit = 57665;
// Image
inline constexpr int imageLiveCapture = 32771;
inline constexpr int imageFormat = 32772;
inline constexpr int imageCompression = 32773;
inline constexpr int imageSourceDialog = 32774;
inline constexpr int imageDisplay = 32775;
// Edit
inline constexpr int editUndo = 57643;
inline constexpr int editCut = 57635;
inline constexpr int editCopy = 57634;
inline constexpr int editPaste = 57637;
// View
inline constexpr int viewToolbar = 59392;
inline constexpr int viewStatusBar = 59393;
// Controls
inline constexpr int mainControls = 57664;
inline constexpr int visionOnOff = 32801; // tool bar only
} // namespace commandId

// Controls of the control panel; their numbers are the widgets' object names.
namespace controlId {
inline constexpr int ok = 1;
inline constexpr int box = 1000;
inline constexpr int cross = 1001;
inline constexpr int binary = 1002;
inline constexpr int reloadConfig = 1003;
inline constexpr int emotionsOnOff = 1004;
inline constexpr int reinitialise = 1005;
inline constexpr int startStop = 1006;
inline constexpr int calibrate = 1007;
inline constexpr int happy = 1008;
inline constexpr int sad = 1009;
inline constexpr int anger = 1010;
inline constexpr int surprise = 1011;
inline constexpr int minSize = 1012;
inline constexpr int reset = 1013;
} // namespace controlId
