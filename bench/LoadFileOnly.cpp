// The floor of the MLT change-list benchmark: both files loaded with pugixml's load_file and its default
// options, both documents kept until the end, nothing else.
// usage: bench_load_file_only OLD NEW

#include <pugixml.hpp>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    pugi::xml_document older, newer;
    return older.load_file(argv[1]) && newer.load_file(argv[2]) ? 0 : 1;
}
