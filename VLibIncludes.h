// The library's umbrella header: includes every public header of the platform
// layer and of the subsystems.
#pragma once

// Platform layer: Win32 and MFC facilities under their Windows names.
#include "platform/WinError.h"
#include "platform/WinTypes.h"
#include "platform/com/Com.h"
#include "platform/com/ObjIdl.h"
#include "platform/com/Rpc.h"
#include "platform/crashreport/CrashReport.h"
#include "platform/crypt/Crypt.h"
#include "platform/gdi/DrawText.h"
#include "platform/gdi/Fonts.h"
#include "platform/gdi/Gdi.h"
#include "platform/gdi/Icons.h"
#include "platform/gdi/LoadImage.h"
#include "platform/gdiplus/GdiPlus.h"
#include "platform/kernel/Debug.h"
#include "platform/kernel/DllEntry.h"
#include "platform/kernel/ErrorCategory.h"
#include "platform/kernel/FileSystemPath.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Handles.h"
#include "platform/kernel/Memory.h"
#include "platform/kernel/Message.h"
#include "platform/kernel/Module.h"
#include "platform/kernel/Process.h"
#include "platform/kernel/ReplacingFile.h"
#include "platform/kernel/Resource.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Threads.h"
#include "platform/kernel/Time.h"
#include "platform/mail/Mail.h"
#include "platform/mfc/AfxArchive.h"
#include "platform/mfc/AfxCmdTarget.h"
#include "platform/mfc/AfxDateTime.h"
#include "platform/mfc/AfxException.h"
#include "platform/mfc/AfxGdi.h"
#include "platform/mfc/AfxGeometry.h"
#include "platform/mfc/AfxModule.h"
#include "platform/mfc/AfxObject.h"
#include "platform/mfc/AfxString.h"
#include "platform/mfc/AfxSync.h"
#include "platform/mfc/AfxThread.h"
#include "platform/mfc/AfxWin.h"
#include "platform/nls/CodePage.h"
#include "platform/shell/Shell.h"
#include "platform/shell/ShellApi.h"
#include "platform/shell/ShlwApi.h"
#include "platform/user/Clipboard.h"
#include "platform/user/Keyboard.h"
#include "platform/user/Messages.h"
#include "platform/user/Monitor.h"
#include "platform/user/StaticControl.h"
#include "platform/user/SystemMetrics.h"
#include "platform/user/Window.h"

// Text and numbers.
#include "text/Converter.h"
#include "text/NumberFormatter.h"
#include "text/ParameterStatus.h"
#include "text/StringConversion.h"
#include "text/StringUtils.h"
#include "text/VToolsString.h"
#include "text/Validators.h"

// Diagnostics.
#include "diagnostics/CrashHandler.h"
#include "diagnostics/Log.h"
#include "diagnostics/LogPlace.h"
#include "diagnostics/Trace.h"
#include "diagnostics/WindowsError.h"

// Settings.
#include "settings/Settings.h"

// Worker threads.
#include "multithreading/BufferManager.h"
#include "multithreading/BufferParser.h"
#include "multithreading/TaskExecutor.h"
#include "multithreading/TaskLoopExecutor.h"
#include "multithreading/Thread.h"
#include "multithreading/TimerExecutor.h"
#include "multithreading/UniqueMessage.h"
#include "multithreading/VWinThread.h"

// Data encoding.
#include "encoding/BinaryStringSerializer.h"
#include "encoding/Guid.h"
#include "encoding/Json.h"
#include "encoding/Rsa.h"
#include "encoding/Sha.h"
#include "encoding/SimpleCrypt.h"
#include "encoding/SimpleValue.h"
#include "encoding/Ssl.h"
#include "encoding/ZipCompressor.h"

// Files and system.
#include "system/AppRunningDetector.h"
#include "system/Clipboard.h"
#include "system/Keyboard.h"
#include "system/Path.h"
#include "system/Process.h"

// Mail.
#include "mail/ChilkatMailManager.h"

// Screen and GDI helpers.
#include "gdi/DCStateBuffer.h"
#include "gdi/DeletableDC.h"
#include "gdi/GdiOwners.h"
#include "gdi/Monitor.h"
#include "gdi/TextSizeCalculator.h"

// Module data and resources.
#include "module/DllData.h"
#include "module/Resource.h"
#include "module/ResourceHandleManager.h"
