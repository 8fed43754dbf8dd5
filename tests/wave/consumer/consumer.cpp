// A producer outside the project: builds against the installed library only.
#include <WaveEvent.h>

#include <cstdio>

int main() {
  uint32_t words[] = {0x80000005, 0xC0000013, 0x00250123, 0xE0000005};
  auto* event = new WaveEvent;
  event->SetModuleNr(0);
  const unsigned used = event->DecodeFromData(words, 4);
  const VFChannel* channel = event->GetChannelWithNumber(11);
  std::printf("%u %d %u\n", used, channel ? static_cast<int>(channel->GetWaveForm().size()) : -1,
              event->GetTrigger());
  event->release();
  return 0;
}
