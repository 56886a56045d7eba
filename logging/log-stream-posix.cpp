#include "logging/log-stream.h"

void OpenLogStream(std::fstream &stream, const std::string &path)
{
	stream.open(path, std::ios::in | std::ios::out | std::ios::binary);
}
