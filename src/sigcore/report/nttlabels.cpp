#include "sigcore/report/nttlabels.hpp"

namespace sigcore {

const Label* findLabel(std::span<const KeyedLabel> table, int key) {
    for (const KeyedLabel& entry : table) {
        if (entry.key == key) return &entry.label;
    }
    return nullptr;
}

std::vector<Label> allLabels() {
    std::vector<Label> labels{kHeaderLine,      kBeforeCallLine,  kDuringCallLine,    kMessageLengthFormat,
                              kParamLengthFormat, kNumberParamLine, kReasonParamLine, kNameParamLine,
                              kExtendedParamLine, kNumberTypeUnclear, kNumberingPlanUnclear};
    const std::array<std::span<const KeyedLabel>, 3> tables{kReasonLabels, kNumberTypeLabels, kNumberingPlanLabels};
    for (const std::span<const KeyedLabel> table : tables) {
        for (const KeyedLabel& entry : table) labels.push_back(entry.label);
    }
    return labels;
}

}  // namespace sigcore
