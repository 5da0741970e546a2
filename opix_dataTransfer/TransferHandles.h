// The records behind the import and export handles.
#pragma once

#include "DataExport.h"
#include "DataImport.h"
#include "HandleSignature.h"

struct opixImportFromHostStruct : opix::HandleRecord<opix::DataImport, opix::HandleKind::ImportFromHost> {};
struct opixExportToHostStruct : opix::HandleRecord<opix::DataExport, opix::HandleKind::ExportToHost> {};
