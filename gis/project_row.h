// The project fields of the main dataset's current row, as opening a project reads them.
#ifndef QUORVEL_GIS_PROJECT_ROW_H_
#define QUORVEL_GIS_PROJECT_ROW_H_

#include <string>
#include <string_view>

namespace jet {
class Dataset;
}

namespace gis {

inline constexpr std::u16string_view kFileNameField = u"FILENAME";
inline constexpr std::u16string_view kPasswordField = u"PASSWORD";

// The field of the current row as text, exactly as stored: NULL, no current row and a
// dataset that is not open read as the empty text. A field the table does not have raises
// the data layer's error.
std::u16string CurrentRowText(const jet::Dataset& dataset, std::u16string_view field);

}  // namespace gis

#endif  // QUORVEL_GIS_PROJECT_ROW_H_
