#include "search/booking_page.h"

#include "search/hosts.h"

namespace vellora {

Text BookingPageUrl(const Text& from_city, const Text& to_city, const Text& date) {
  return Text::FromGbk("http://") + BookingHost() +
         Text::FromGbk("/site/oneway_list.htm?searchDepartureAirport=") + from_city +
         Text::FromGbk("&searchArrivalAirport=") + to_city +
         Text::FromGbk("&searchDepartureTime=") + date +
         Text::FromGbk(
             "&searchArrivalTime=2010-11-04&nextNDays=0&startSearch=true"
             "&from=fi_ont_search");
}

}  // namespace vellora
