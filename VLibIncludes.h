// The library's umbrella header: includes every public header of the platform
// layer and of the subsystems.
#pragma once

// Platform layer: Win32 and MFC facilities under their Windows names.
#include "platform/AfxArchive.h"
#include "platform/AfxDateTime.h"
#include "platform/AfxException.h"
#include "platform/AfxGeometry.h"
#include "platform/AfxString.h"
#include "platform/CodePage.h"
#include "platform/Com.h"
#include "platform/CrashReport.h"
#include "platform/Crypt.h"
#include "platform/Debug.h"
#include "platform/Files.h"
#include "platform/Handles.h"
#include "platform/Memory.h"
#include "platform/Message.h"
#include "platform/Module.h"
#include "platform/Rpc.h"
#include "platform/Shell.h"
#include "platform/Threads.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"

// Text and numbers.
#include "text/Converter.h"
#include "text/ParameterStatus.h"
#include "text/StringConversion.h"
#include "text/StringUtils.h"
#include "text/VToolsString.h"
#include "text/Validators.h"

// Diagnostics.
#include "diagnostics/CrashHandler.h"
#include "diagnostics/Log.h"
#include "diagnostics/Trace.h"
#include "diagnostics/WindowsError.h"

// Settings.
#include "settings/Settings.h"

// Worker threads.
#include "multithreading/BufferManager.h"
#include "multithreading/BufferParser.h"
#include "multithreading/TaskExecutor.h"
#include "multithreading/Thread.h"
#include "multithreading/TimerExecutor.h"

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
#include "system/Path.h"
