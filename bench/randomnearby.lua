-- wrk script: getNearbyStations at a random position near a random town
-- across the island (up to about 15 km from its centre), with the radius in
-- km given after "--", so no two requests are likely to be the same.
local towns = {
    {53.3498, -6.2603}, {51.8985, -8.4756}, {53.2707, -9.0568}, {52.6638, -8.6267},
    {52.2593, -7.1101}, {53.4239, -7.9407}, {54.2766, -8.4761}, {54.9558, -7.7342},
    {52.6541, -7.2448}, {53.7179, -6.3561}, {53.9908, -7.3606}, {52.8365, -6.9341},
    {52.3369, -6.4633}, {52.9808, -6.0446}, {53.2859, -6.3733}, {52.8436, -8.9864},
    {53.8008, -9.5148}, {52.2713, -9.7026}, {51.7160, -8.6470}, {53.5390, -7.3380},
    {53.1500, -6.6700}, {53.0340, -7.3000}, {53.6540, -6.6820}, {52.1390, -8.6451},
    {54.6540, -8.1101}, {53.9550, -8.3000}, {53.5147, -8.8514}, {52.5000, -8.1000},
}
local km = "5"
function init(args)
    if args[1] then km = args[1] end
    math.randomseed(os.time() + math.floor(os.clock() * 1000000))
end
function request()
    local t = towns[math.random(#towns)]
    local lat = t[1] + (math.random() - 0.5) * 0.27
    local lng = t[2] + (math.random() - 0.5) * 0.45
    return wrk.format("GET", string.format(
        "/api/nokiaApp/getNearbyStations.php?latitude=%.5f&longitude=%.5f&maxDistance=%s", lat, lng, km))
end
