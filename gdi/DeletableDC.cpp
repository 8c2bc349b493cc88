// DeletableDC.
#include "gdi/DeletableDC.h"

DeletableDC::DeletableDC() = default;

DeletableDC::~DeletableDC() {
    if (GetSafeHdc() != nullptr) CDC::DeleteDC();
}
