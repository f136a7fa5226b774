#include "core/SharedState.h"

#include <algorithm>
#include <utility>

namespace kv {

void SharedState::appendRx(ByteView bytes) {
    std::size_t start = RxCount > 0 ? static_cast<std::size_t>(RxCount) : 0;
    std::size_t room = kRxBufferSize - std::min(start, kRxBufferSize);
    std::size_t n = std::min(room, bytes.size());
    std::copy_n(bytes.begin(), n, RxBuffer.begin() + static_cast<std::ptrdiff_t>(start));
    RxCount = static_cast<std::int32_t>(start + n);
}

TMatrixRec* SharedState::selectedDevice() {
    return const_cast<TMatrixRec*>(std::as_const(*this).selectedDevice());
}

const TMatrixRec* SharedState::selectedDevice() const {
    if (SelectedDevice < 0 || static_cast<std::size_t>(SelectedDevice) >= DeviceList.size()) {
        return nullptr;
    }
    return &DeviceList[static_cast<std::size_t>(SelectedDevice)];
}

std::vector<TControllerRec>* SharedState::selectedControllers() {
    TMatrixRec* device = selectedDevice();
    return device ? &device->Controllers : nullptr;
}

void SharedState::setGridRow(std::size_t row, const TControllerRec& c) {
    if (gridCells.size() <= row) gridCells.resize(row + 1);
    auto slash = c.FirmwareFile.find_last_of("/\\");
    gridCells[row] = {
        c.ControllerType, c.HardwareVersion, c.BootloaderVersion, c.FirmwareVersion,
        slash == std::string::npos ? c.FirmwareFile : c.FirmwareFile.substr(slash + 1)};
}

}  // namespace kv
