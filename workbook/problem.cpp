#include "workbook/problem.h"

namespace workbook {

std::string Problem::describe() const {
    std::string where = place.empty() ? detail : detail.empty() ? place : place + ": " + detail;
    auto withWhere = [&](std::string text) {
        return where.empty() ? text : text + " (" + where + ")";
    };
    switch (kind) {
        case ProblemKind::NotAWorkbook:
            return withWhere("the file is not a workbook");
        case ProblemKind::Damaged:
            return withWhere("the workbook is damaged");
        case ProblemKind::Unsupported:
            return withWhere("this workbook format is not supported yet");
        case ProblemKind::Encrypted:
            return withWhere("the workbook is password-protected");
        case ProblemKind::TooLarge:
            return withWhere("the workbook is too large to read");
        case ProblemKind::Io:
            return withWhere("the file cannot be read");
        case ProblemKind::LinkedImage:
            return withWhere("the picture is only linked and the workbook holds no image for it");
    }
    return withWhere("the workbook cannot be read");
}

Problem damaged(std::string place, std::string detail) {
    return {ProblemKind::Damaged, std::move(place), std::move(detail)};
}

Problem tooLarge(std::string place, std::string detail) {
    return {ProblemKind::TooLarge, std::move(place), std::move(detail)};
}

}  // namespace workbook
