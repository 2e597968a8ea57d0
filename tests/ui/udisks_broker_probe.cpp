// Opens one partition as the window does (its own open first, then the disk
// service) and prints what came of it, for udisks_broker_mock_test.py:
//   "opened <first 16 bytes in hex>"  or  "<message><path>: <reason>".
#include <QCoreApplication>
#include <cstdio>
#include <iostream>
#include <memory>

#include "access/posix_platform_source.h"
#include "access/sector_source.h"
#include "texts/failure_text.h"
#include "texts/message_table.h"
#include "texts/refusal_slots.h"
#include "ui/udisks_broker.h"

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  if (argc != 2) return 2;
  vellumark::ChooseLanguage(vellumark::Language::English);
  vellumark::UDisksBroker broker;
  vellumark::SectorSource source(std::make_unique<vellumark::PosixPlatformSource>(&broker));
  const vellumark::OpenResult result = source.OpenPartition(argv[1], argv[1]);
  if (!result.ok()) {
    std::cout << vellumark::Text(vellumark::SlotOf(result.error))
              << vellumark::PathAndReason(argv[1], result.systemError, vellumark::ReasonSlot(result)) << '\n';
    return 1;
  }
  unsigned char first[16];
  if (source.ReadSectors(first, 0, 0) != 0 || source.ReadSectors(first, sizeof first, 0) != 0) return 3;
  std::cout << "opened ";
  for (unsigned char byte : first) std::printf("%02x", byte);
  std::cout << std::endl;
  return 0;
}
