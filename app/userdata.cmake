# Notes and bookmarks kept in the book file (the record's codec is the book layer's), and
# extracting a book: Qt Core only, so tests, benchmarks and fuzz targets can use them without
# widgets.
add_library(pagewick_userdata STATIC
    userdata.cpp userdata.h
    lockedfile.cpp lockedfile.h
    extractor.cpp extractor.h
)
target_include_directories(pagewick_userdata PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(pagewick_userdata PUBLIC pagewick_book Qt6::Core)

# The main window's Extract command: folder dialog, progress dialog and messages.
add_library(pagewick_extractdialog STATIC extractdialog.cpp extractdialog.h)
target_link_libraries(pagewick_extractdialog PUBLIC pagewick_userdata Qt6::Widgets)
