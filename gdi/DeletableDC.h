// DeletableDC: the MFC device-context object for DCs the code created itself
// (memory DCs), which are deleted rather than released.
//
// Threads: as CDC, it belongs to the thread that attached its DC.
#pragma once

#include "VLibExport.h"
#include "platform/mfc/AfxGdi.h"

class VLIB_API DeletableDC : public CDC {
public:
    // An empty CDC.
    DeletableDC();
    // Deletes the DC it holds (CDC::DeleteDC), then the CDC is destroyed.
    ~DeletableDC() override;
};
