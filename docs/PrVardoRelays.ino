// PrVardo's six outputs on an Arduino relay board, through the USB serial port.
//
// PrVardo sends one byte each time the switching word changes (9600 baud, 8N1): bit n is
// output Dn. Each relay follows its bit. Most relay boards switch on a LOW input: leave
// RELAY_ON as it is; for a board that switches on HIGH, make it HIGH.

const uint8_t RELAY_PINS[6] = {2, 3, 4, 5, 6, 7}; // D0 .. D5
const uint8_t RELAY_ON = LOW;
const uint8_t RELAY_OFF = RELAY_ON == LOW ? HIGH : LOW;

void show(uint8_t word)
{
  for (uint8_t n = 0; n < 6; ++n)
    digitalWrite(RELAY_PINS[n], (word >> n) & 1 ? RELAY_ON : RELAY_OFF);
}

void setup()
{
  for (uint8_t n = 0; n < 6; ++n) {
    digitalWrite(RELAY_PINS[n], RELAY_OFF); // off before the pin drives the relay
    pinMode(RELAY_PINS[n], OUTPUT);
  }
  Serial.begin(9600);
  // The board restarts when PrVardo opens the port; any byte from it asks PrVardo for the word
  // again, in case the first one came while it was starting.
  Serial.write('?');
}

void loop()
{
  if (Serial.available() > 0)
    show(Serial.read() & 0x3F);
}
